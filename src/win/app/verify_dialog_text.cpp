#include "win/app/verify_dialog_text.h"

#include <algorithm>

namespace win {
namespace {

VerifyMessageBoxHook g_message_box_hook = nullptr;

}  // namespace

std::wstring VerifyWide(std::string_view utf8) {
  if (utf8.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
  std::wstring out(size_t(std::max(n, 0)), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), out.data(), n);
  return out;
}

std::string VerifyUtf8(std::wstring_view wide) {
  if (wide.empty()) return {};
  int n =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string out(size_t(std::max(n, 0)), '\0');
  if (n > 0) {
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), out.data(), n, nullptr, nullptr);
  }
  return out;
}

std::string DialogItemText(HWND dialog, int id) {
  HWND item = GetDlgItem(dialog, id);
  int length = GetWindowTextLengthW(item);
  std::wstring text(size_t(std::max(length, 0)) + 1, L'\0');
  int got = GetWindowTextW(item, text.data(), int(text.size()));
  text.resize(size_t(std::max(got, 0)));
  return VerifyUtf8(text);
}

void SetDialogItemText(HWND dialog, int id, std::string_view utf8) {
  SetDlgItemTextW(dialog, id, VerifyWide(utf8).c_str());
}

int VerifyMessageBox(HWND owner, std::string_view text, std::string_view caption, UINT type) {
  if (g_message_box_hook) {
    return g_message_box_hook(owner, std::string(text), std::string(caption), type);
  }
  return MessageBoxW(owner, VerifyWide(text).c_str(), VerifyWide(caption).c_str(), type);
}

void SetVerifyMessageBoxHook(VerifyMessageBoxHook hook) { g_message_box_hook = hook; }

}  // namespace win
