#include "core/base/text.h"

#include <charconv>
#include <cstdarg>
#include <cstdio>

namespace core {

std::string_view TrimLeft(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && IsSpace(s[i])) ++i;
  return s.substr(i);
}

std::string_view TrimRight(std::string_view s) {
  size_t n = s.size();
  while (n > 0 && IsSpace(s[n - 1])) --n;
  return s.substr(0, n);
}

std::string_view Trim(std::string_view s) { return TrimRight(TrimLeft(s)); }

std::string_view Utf8Prefix(std::string_view text, size_t chars) {
  size_t seen = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    // Every byte but a UTF-8 continuation byte begins a character.
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && seen++ == chars) {
      return text.substr(0, i);
    }
  }
  return text;
}

std::string AsciiLowerCopy(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

std::string AsciiUpperCopy(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

std::string_view LeadingRun(std::string_view s, std::string_view set) {
  size_t i = 0;
  while (i < s.size() && set.find(s[i]) != std::string_view::npos) ++i;
  return s.substr(0, i);
}

std::string_view LeadingDigits(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && IsDigit(s[i])) ++i;
  return s.substr(0, i);
}

int64_t LeadingDigitsValue(std::string_view s, int64_t limit) {
  int64_t v = 0;
  for (char c : LeadingDigits(s)) {
    v = v * 10 + (c - '0');
    if (v >= limit) return limit;
  }
  return v;
}

std::string Format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list ap2;
  va_copy(ap2, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, ap);
  va_end(ap);
  std::string out;
  if (n > 0) {
    out.resize(size_t(n) + 1);
    std::vsnprintf(out.data(), out.size(), fmt, ap2);
    out.resize(size_t(n));
  }
  va_end(ap2);
  return out;
}

bool StartsWithIgnoreAsciiCase(std::string_view s, std::string_view prefix, size_t pos) {
  if (pos > s.size() || s.size() - pos < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (AsciiLower(s[pos + i]) != AsciiLower(prefix[i])) return false;
  }
  return true;
}

std::optional<int32_t> ParseWholeNumber(std::string_view text) {
  std::string_view s = Trim(text);
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  int32_t value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return value;
}

}  // namespace core
