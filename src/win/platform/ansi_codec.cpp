#include "win/platform/ansi_codec.h"

#include <windows.h>

#include <climits>

#include "win/platform/wide_text.h"

namespace win {

std::string WindowsAnsiCodec::ToUtf8(std::string_view ansi) const {
  return WideToUtf8(CodePageToWide(ansi, code_page_));
}

bool WindowsAnsiCodec::FromUtf8(std::string_view utf8, std::string* ansi) const {
  ansi->clear();
  if (utf8.empty()) return true;
  std::wstring wide = Utf8ToWide(utf8);
  if (wide.empty() || wide.size() > size_t(INT_MAX)) return false;
  // WC_NO_BEST_FIT_CHARS: without it "é" could become "e" in a code page that
  // lacks it, which no default-char test would notice.
  BOOL used_default = FALSE;
  int n = WideCharToMultiByte(code_page_, WC_NO_BEST_FIT_CHARS, wide.data(), int(wide.size()),
                              nullptr, 0, nullptr, &used_default);
  if (n <= 0) return false;
  ansi->assign(size_t(n), '\0');
  used_default = FALSE;
  WideCharToMultiByte(code_page_, WC_NO_BEST_FIT_CHARS, wide.data(), int(wide.size()), ansi->data(),
                      n, nullptr, &used_default);
  // A round trip catches what lpUsedDefaultChar misses in code pages where the
  // flag is not supported (UTF-7/8 report no default char at all).
  return !used_default && ToUtf8(*ansi) == utf8;
}

}  // namespace win
