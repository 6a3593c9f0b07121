#include "core/base/codepage.h"

#include <array>
#include <cstdint>
#include <memory>

namespace core {
namespace {

constexpr int kLeadFirst = 0x81, kLeadLast = 0xFE;
constexpr int kTrailFirst = 0x40, kTrailLast = 0xFE;
constexpr int kTrailCount = kTrailLast - kTrailFirst + 1;

const uint16_t kGbkTable[] = {
#include "core/base/gbk_table.inc"
};
static_assert(sizeof(kGbkTable) / sizeof(kGbkTable[0]) ==
              (kLeadLast - kLeadFirst + 1) * kTrailCount);

// Code page 936 as Windows runs it gives the single byte 0x80 the euro sign.
constexpr char32_t kEuro = 0x20AC;

uint16_t GbkPairToUnicode(unsigned lead, unsigned trail) {
  if (lead < kLeadFirst || lead > kLeadLast || trail < kTrailFirst || trail > kTrailLast) {
    return 0;
  }
  return kGbkTable[(lead - kLeadFirst) * kTrailCount + (trail - kTrailFirst)];
}

// Unicode (BMP) -> GBK pair, built once on first use; 0 = no GBK form.
const std::array<uint16_t, 0x10000>& ReverseTable() {
  static const std::unique_ptr<std::array<uint16_t, 0x10000>> table = [] {
    auto t = std::make_unique<std::array<uint16_t, 0x10000>>();
    t->fill(0);
    for (int lead = kLeadFirst; lead <= kLeadLast; ++lead) {
      for (int trail = kTrailFirst; trail <= kTrailLast; ++trail) {
        uint16_t cp = GbkPairToUnicode(unsigned(lead), unsigned(trail));
        if (cp != 0 && (*t)[cp] == 0) (*t)[cp] = uint16_t(lead << 8 | trail);
      }
    }
    return t;
  }();
  return *table;
}

// Decodes one UTF-8 sequence at s[i]; returns the code point and advances i,
// or returns -1 (advancing one byte) when the sequence is malformed.
long DecodeUtf8(std::string_view s, size_t& i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) {
    ++i;
    return c;
  }
  int len;
  char32_t cp;
  char32_t min;
  if ((c & 0xE0) == 0xC0) {
    len = 2, cp = c & 0x1F, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    len = 3, cp = c & 0x0F, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    len = 4, cp = c & 0x07, min = 0x10000;
  } else {
    ++i;
    return -1;
  }
  if (i + size_t(len) > s.size()) {
    ++i;
    return -1;
  }
  for (int k = 1; k < len; ++k) {
    unsigned char cc = static_cast<unsigned char>(s[i + size_t(k)]);
    if ((cc & 0xC0) != 0x80) {
      ++i;
      return -1;
    }
    cp = (cp << 6) | (cc & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return -1;
  }
  i += size_t(len);
  return long(cp);
}

}  // namespace

bool IsValidUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    if (static_cast<unsigned char>(s[i]) < 0x80) {
      ++i;
      continue;
    }
    if (DecodeUtf8(s, i) < 0) return false;
  }
  return true;
}

Utf8Census CountUtf8(std::string_view s) {
  Utf8Census c;
  for (size_t i = 0; i < s.size();) {
    if (static_cast<unsigned char>(s[i]) < 0x80) {
      ++i;
    } else if (DecodeUtf8(s, i) < 0) {
      ++c.invalid;
    } else {
      ++c.multibyte;
    }
  }
  return c;
}

std::string RepairUtf8(std::string_view s, size_t* replaced) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    size_t start = i;
    if (static_cast<unsigned char>(s[i]) < 0x80 || DecodeUtf8(s, i) >= 0) {
      if (i == start) ++i;
      out.append(s.substr(start, i - start));
    } else {
      AppendUtf8(0xFFFD, out);
      if (replaced) ++*replaced;
    }
  }
  return out;
}

void AppendUtf8(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | (cp >> 18));
    out += char(0x80 | ((cp >> 12) & 0x3F));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

std::string GbkToUtf8(std::string_view gbk) {
  std::string out;
  out.reserve(gbk.size() + gbk.size() / 2);
  for (size_t i = 0; i < gbk.size();) {
    unsigned char c = static_cast<unsigned char>(gbk[i]);
    if (c < 0x80) {
      out += char(c);
      ++i;
    } else if (c == 0x80) {
      AppendUtf8(kEuro, out);
      ++i;
    } else if (i + 1 < gbk.size()) {
      uint16_t cp = GbkPairToUnicode(c, static_cast<unsigned char>(gbk[i + 1]));
      if (cp != 0) {
        AppendUtf8(cp, out);
        i += 2;
      } else {
        AppendUtf8(0xFFFD, out);
        ++i;
      }
    } else {
      AppendUtf8(0xFFFD, out);
      ++i;
    }
  }
  return out;
}

std::string Utf8ToGbk(std::string_view utf8, bool* lossless) {
  const auto& rev = ReverseTable();
  std::string out;
  out.reserve(utf8.size());
  bool ok = true;
  for (size_t i = 0; i < utf8.size();) {
    long cp = DecodeUtf8(utf8, i);
    if (cp >= 0 && cp < 0x80) {
      out += char(cp);
    } else if (cp == long(kEuro)) {
      out += char(0x80);
    } else if (cp > 0 && cp < 0x10000 && rev[size_t(cp)] != 0) {
      out += char(rev[size_t(cp)] >> 8);
      out += char(rev[size_t(cp)] & 0xFF);
    } else {
      out += '?';
      ok = false;
    }
  }
  if (lossless) *lossless = ok;
  return out;
}

}  // namespace core
