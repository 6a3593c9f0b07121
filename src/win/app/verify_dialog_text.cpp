#include "win/app/verify_dialog_text.h"

#include <algorithm>

#include "win/platform/wide_text.h"

namespace win {
namespace {

VerifyMessageBoxHook g_message_box_hook = nullptr;

}  // namespace

std::string DialogItemText(HWND dialog, int id) {
  HWND item = GetDlgItem(dialog, id);
  int length = GetWindowTextLengthW(item);
  std::wstring text(size_t(std::max(length, 0)) + 1, L'\0');
  int got = GetWindowTextW(item, text.data(), int(text.size()));
  text.resize(size_t(std::max(got, 0)));
  return WideToUtf8(text);
}

void SetDialogItemText(HWND dialog, int id, std::string_view utf8) {
  SetDlgItemTextW(dialog, id, Utf8ToWide(utf8).c_str());
}

int VerifyMessageBox(HWND owner, std::string_view text, std::string_view caption, UINT type) {
  if (g_message_box_hook) {
    return g_message_box_hook(owner, std::string(text), std::string(caption), type);
  }
  return MessageBoxW(owner, Utf8ToWide(text).c_str(), Utf8ToWide(caption).c_str(), type);
}

void SetVerifyMessageBoxHook(VerifyMessageBoxHook hook) { g_message_box_hook = hook; }

}  // namespace win
