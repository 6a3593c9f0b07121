#include "win/ui/dialog_text.h"

#include <algorithm>

#include "win/platform/wide_text.h"

namespace win {

std::string WindowTextUtf8(HWND window) {
  int length = GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::wstring text(size_t(length) + 1, L'\0');
  int got = GetWindowTextW(window, text.data(), length + 1);
  text.resize(size_t(std::max(got, 0)));
  return WideToUtf8(text);
}

std::string DialogItemText(HWND dialog, int id) { return WindowTextUtf8(GetDlgItem(dialog, id)); }

void SetDialogItemText(HWND dialog, int id, std::string_view utf8) {
  SetDlgItemTextW(dialog, id, Utf8ToWide(utf8).c_str());
}

}  // namespace win
