#include "core/proxylist/natural_compare.h"

#include "core/base/codepage.h"
#include "core/base/text.h"

namespace core {
namespace {

constexpr std::string_view kSkipped = "-_!~`';,+=()[]{}^& \t";

std::string_view SkipSeparators(std::string_view s) {
  s = TrimLeft(s);
  while (!s.empty() && kSkipped.find(s.front()) != std::string_view::npos) s.remove_prefix(1);
  return s;
}

int LengthDifference(std::string_view a, std::string_view b) {
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

// Compares two digit runs by value, whatever their length: leading zeros are
// dropped, then the longer run is the larger number.
int CompareDigitRuns(std::string_view a, std::string_view b) {
  while (a.size() > 1 && a.front() == '0') a.remove_prefix(1);
  while (b.size() > 1 && b.front() == '0') b.remove_prefix(1);
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

}  // namespace

int CompareNaturalBytes(std::string_view a, std::string_view b) {
  for (;;) {
    if (a.empty() || b.empty()) return LengthDifference(a, b);
    a = SkipSeparators(a);
    b = SkipSeparators(b);
    if (a.empty() || b.empty()) return LengthDifference(a, b);

    std::string_view na = LeadingDigits(a);
    std::string_view nb = LeadingDigits(b);
    if (!na.empty() && nb.empty()) return -1;
    if (na.empty() && !nb.empty()) return 1;
    if (!na.empty()) {
      if (int c = CompareDigitRuns(na, nb); c != 0) return c;
      a.remove_prefix(na.size());
      b.remove_prefix(nb.size());
      continue;
    }
    // Characters compare as signed bytes, so the lead bytes of double-byte
    // characters (0x81..0xFE) sort before every ASCII character.
    int ca = static_cast<signed char>(AsciiUpper(a.front()));
    int cb = static_cast<signed char>(AsciiUpper(b.front()));
    if (ca != cb) return ca - cb;
    a.remove_prefix(1);
    b.remove_prefix(1);
  }
}

std::string NaturalSortKey(std::string_view utf8) { return Utf8ToGbk(utf8); }

int CompareNatural(std::string_view a, std::string_view b) {
  return CompareNaturalBytes(NaturalSortKey(a), NaturalSortKey(b));
}

}  // namespace core
