// Small text helpers shared by the whole core: white space, ASCII case, leading
// digits and printf-style formatting into std::string. All texts are UTF-8 (or,
// where a function says so, raw ANSI bytes). Pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace core {

// Blank, tab, CR, LF, vertical tab and form feed.
constexpr bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}
constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }
constexpr char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }
constexpr char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }
constexpr bool IsAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool IsAsciiAlnum(char c) { return IsAsciiAlpha(c) || IsDigit(c); }

std::string_view TrimLeft(std::string_view s);
std::string_view TrimRight(std::string_view s);
std::string_view Trim(std::string_view s);
// The first `chars` characters of UTF-8 `text` (all of it when shorter), cut
// before a character's first byte.
std::string_view Utf8Prefix(std::string_view text, size_t chars);
std::string AsciiUpperCopy(std::string_view s);
std::string AsciiLowerCopy(std::string_view s);
bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b);
// Whether `s` from `pos` on begins with `prefix`, ASCII letters in any case; false
// when `pos` lies past the end.
bool StartsWithIgnoreAsciiCase(std::string_view s, std::string_view prefix, size_t pos = 0);

// The longest beginning of `s` made only of characters found in `set`.
std::string_view LeadingRun(std::string_view s, std::string_view set);
// The longest beginning of `s` made of decimal digits.
std::string_view LeadingDigits(std::string_view s);

// Decimal value of the leading digits of `s`; 0 when there are none. Saturates
// at `limit` so that a run of a thousand digits cannot overflow.
int64_t LeadingDigitsValue(std::string_view s, int64_t limit = INT32_MAX);

// A settings edit's whole number: blanks around an optionally signed run of
// digits and nothing else, with a value that fits 32 bits; nullopt otherwise
// (a number edit takes digits only, but pasted text reaches it unchecked).
std::optional<int32_t> ParseWholeNumber(std::string_view text);

// printf into a std::string.
std::string Format(const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

}  // namespace core
