#include "win/app/tray_icon.h"

#include <shellapi.h>

#include <algorithm>

namespace win {

bool TrayIcon::Send(DWORD message, HICON icon, const std::wstring& tip) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  data.hWnd = owner_;
  data.uID = ID_TRAY_ICON_UID;
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = WM_TRAY_NOTIFY;
  data.hIcon = icon;
  // The tip field is fixed-size; a longer text is cut, never overrun.
  size_t n = std::min(tip.size(), std::size(data.szTip) - 1);
  std::copy_n(tip.data(), n, data.szTip);
  return Shell_NotifyIconW(message, &data) != FALSE;
}

bool TrayIcon::Add(HWND owner, HICON icon, const std::wstring& tip) {
  owner_ = owner;
  icon_ = icon;
  tip_ = tip;
  added_ = Send(NIM_ADD, icon, tip);
  return added_;
}

bool TrayIcon::Readd() {
  if (owner_ == nullptr) return false;
  // The message also comes when no Explorer died (a second shell starting): then
  // the icon is still there, the add is refused and a modify keeps it current.
  added_ = Send(NIM_ADD, icon_, tip_) || Send(NIM_MODIFY, icon_, tip_);
  return added_;
}

bool TrayIcon::Modify(HICON icon, const std::wstring& tip) {
  if (owner_ == nullptr) return false;
  icon_ = icon;
  tip_ = tip;
  return Send(NIM_MODIFY, icon, tip);
}

void TrayIcon::Delete() {
  if (owner_ == nullptr) return;
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  data.hWnd = owner_;
  data.uID = ID_TRAY_ICON_UID;
  Shell_NotifyIconW(NIM_DELETE, &data);
  added_ = false;
  // Gone for good: a later "TaskbarCreated" must not bring it back.
  owner_ = nullptr;
}

}  // namespace win
