// The ANSI code page the system actually runs (CP_ACP), as list files use it.
// Conversion loss is detected, so an export never silently writes '?' for a
// character the code page lacks. Any thread.
#pragma once

#include <string>
#include <string_view>

#include "core/base/codepage.h"

namespace win {

class WindowsAnsiCodec final : public core::AnsiCodec {
 public:
  // `code_page` is for tests; the program uses CP_ACP (0).
  explicit WindowsAnsiCodec(unsigned code_page = 0) : code_page_(code_page) {}
  std::string ToUtf8(std::string_view ansi) const override;
  bool FromUtf8(std::string_view utf8, std::string* ansi) const override;

 private:
  unsigned code_page_;
};

}  // namespace win
