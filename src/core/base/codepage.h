// Text encodings at the program's edges. Inside, every text is UTF-8; list files
// and the location database may hold ANSI bytes, which on the program's home
// systems are code page 936 (GBK). The GBK codec here needs no operating system
// support, so Linux and Windows builds convert identically. Any thread.
#pragma once

#include <string>
#include <string_view>

namespace core {

// True when `s` is well-formed UTF-8 (no overlong forms, no surrogates).
bool IsValidUtf8(std::string_view s);

// How much of `s` reads as UTF-8: its well-formed sequences of two to four
// bytes, and the bytes that belong to no well-formed sequence.
struct Utf8Census {
  size_t multibyte = 0;
  size_t invalid = 0;
};
Utf8Census CountUtf8(std::string_view s);

// `s` with every byte that belongs to no well-formed sequence replaced by U+FFFD;
// `replaced`, when given, is increased by their number.
std::string RepairUtf8(std::string_view s, size_t* replaced = nullptr);

// Appends the UTF-8 form of code point `cp` to `out`.
void AppendUtf8(char32_t cp, std::string& out);

// GBK bytes to UTF-8. A byte or pair with no GBK meaning becomes U+FFFD.
std::string GbkToUtf8(std::string_view gbk);

// UTF-8 to GBK. Characters without a GBK form (and malformed UTF-8) become '?';
// `lossless`, when given, tells whether every character survived.
std::string Utf8ToGbk(std::string_view utf8, bool* lossless = nullptr);

// The system's ANSI code page, as list files use it. The core's own codec is GBK;
// the Windows shell supplies one for the code page the system actually runs.
class AnsiCodec {
 public:
  virtual ~AnsiCodec() = default;
  virtual std::string ToUtf8(std::string_view ansi) const = 0;
  // Returns false when some character has no form in the code page.
  virtual bool FromUtf8(std::string_view utf8, std::string* ansi) const = 0;
};

class GbkCodec final : public AnsiCodec {
 public:
  std::string ToUtf8(std::string_view ansi) const override { return GbkToUtf8(ansi); }
  bool FromUtf8(std::string_view utf8, std::string* ansi) const override {
    bool ok = true;
    *ansi = Utf8ToGbk(utf8, &ok);
    return ok;
  }
};

}  // namespace core
