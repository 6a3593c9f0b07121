// TrayIcon: the program's icon in the notification area, owned by one window
// (identifier ID_TRAY_ICON_UID, callback WM_TRAY_NOTIFY). Deleted when the object goes, which
// must happen before its window is destroyed. UI thread only.
#pragma once

#include <windows.h>

#include <string>

#include "win/platform/app_messages.h"
#include "win/res/resource.h"

namespace win {

class TrayIcon {
 public:
  TrayIcon() = default;
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;
  ~TrayIcon() { Delete(); }

  // Adds the icon with `tip`; remembers it for Readd. Returns the shell's answer.
  bool Add(HWND owner, HICON icon, const std::wstring& tip);
  // Adds it again after Explorer restarted (the "TaskbarCreated" message).
  bool Readd();
  // Changes the icon; the tip becomes `tip`.
  bool Modify(HICON icon, const std::wstring& tip);
  // Removes the icon; also when it was never added (the shell just says no).
  void Delete();
  bool added() const { return added_; }
  HICON icon() const { return icon_; }
  const std::wstring& tip() const { return tip_; }

 private:
  bool Send(DWORD message, HICON icon, const std::wstring& tip);

  HWND owner_ = nullptr;
  HICON icon_ = nullptr;
  std::wstring tip_;
  bool added_ = false;
};

}  // namespace win
