#include "core/proxylist/mo_catalog.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace core {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

void PutWord(std::string& out, size_t at, uint32_t v, bool big_endian) {
  for (int i = 0; i < 4; ++i) {
    const int shift = big_endian ? 24 - 8 * i : 8 * i;
    out[at + size_t(i)] = char((v >> shift) & 0xFF);
  }
}

// A catalogue as msgfmt lays it out: header, two tables of (length, offset),
// then the strings, each followed by a zero.
std::string MakeMo(const Entries& entries, bool big_endian = false) {
  const size_t n = entries.size();
  const size_t originals = 28, translations = originals + 8 * n;
  std::string out(translations + 8 * n, '\0');
  PutWord(out, 0, 0x950412de, big_endian);
  PutWord(out, 8, uint32_t(n), big_endian);
  PutWord(out, 12, uint32_t(originals), big_endian);
  PutWord(out, 16, uint32_t(translations), big_endian);
  for (int table = 0; table < 2; ++table) {
    for (size_t i = 0; i < n; ++i) {
      const std::string& s = table == 0 ? entries[i].first : entries[i].second;
      const size_t at = (table == 0 ? originals : translations) + 8 * i;
      PutWord(out, at, uint32_t(s.size()), big_endian);
      PutWord(out, at + 4, uint32_t(out.size()), big_endian);
      out += s;
      out += '\0';
    }
  }
  return out;
}

const Entries kSample = {
    {"", "Content-Type: text/plain; charset=UTF-8\n"},
    {"China", "中国"},
    {"Japan", "日本"},
    {std::string("apple\0apples", 12), std::string("苹果\0苹果们", 16)},
    {"menu\x04Open", "打开"},
};

TEST(MoCatalogTest, ReadsBothByteOrders) {
  for (bool big_endian : {false, true}) {
    std::string error;
    auto catalog = ParseMoCatalog(MakeMo(kSample, big_endian), &error);
    ASSERT_TRUE(catalog) << "big endian " << big_endian << ": " << error;
    const MoCatalog expected = {
        {"China", "中国"}, {"Japan", "日本"}, {"apple", "苹果"}, {"menu\x04Open", "打开"}};
    EXPECT_EQ(*catalog, expected) << "big endian " << big_endian;
  }
}

TEST(MoCatalogTest, RefusesMalformedCatalogues) {
  const std::string good = MakeMo(kSample);
  auto with_word = [&good](size_t at, uint32_t v) {
    std::string s = good;
    PutWord(s, at, v, false);
    return s;
  };
  const size_t last_translation = 28 + 8 * kSample.size() + 8 * (kSample.size() - 1);
  const std::pair<const char*, std::string> cases[] = {
      {"empty", ""},
      {"magic only", good.substr(0, 4)},
      {"header cut", good.substr(0, 19)},
      {"bad magic", with_word(0, 0x12345678)},
      {"revision 2.0", with_word(4, 0x00020000)},
      {"count past the tables", with_word(8, 0xFFFFFFFF)},
      {"table offset past the end", with_word(12, 0xFFFFFFF0)},
      {"string offset past the end", with_word(last_translation + 4, uint32_t(good.size()))},
      {"string length past the end", with_word(last_translation, 0xFFFFFFFF)},
      {"strings cut off", good.substr(0, good.size() - 8)},
  };
  for (const auto& [what, bytes] : cases) {
    std::string error;
    EXPECT_FALSE(ParseMoCatalog(bytes, &error)) << what;
    EXPECT_FALSE(error.empty()) << what;
  }
}

}  // namespace
}  // namespace core
