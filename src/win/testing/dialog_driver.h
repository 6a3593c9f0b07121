// Driving dialogs and modal windows in tests as a user would.
#pragma once

#include <windows.h>

#include <functional>
#include <utility>

namespace win {

// Presses button `id` of `dialog` as a click does (WM_COMMAND, BN_CLICKED).
inline void ClickButton(HWND dialog, int id) {
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), LPARAM(GetDlgItem(dialog, id)));
}

// For a modal window the test is about to open on this thread: a thread timer
// looks every `every_ms` for a window of this thread that `is_it` picks and,
// once there is one, lets `drive` act on it from inside its modal loop.
class ModalDriver {
 public:
  static void DriveWhenOpen(std::function<bool(HWND)> is_it, std::function<void(HWND)> drive,
                            UINT every_ms = 20) {
    is_it_ = std::move(is_it);
    drive_ = std::move(drive);
    SetTimer(nullptr, 0, every_ms, &ModalDriver::OnTimer);
  }

 private:
  static BOOL CALLBACK Pick(HWND hwnd, LPARAM out) {
    if (!is_it_(hwnd)) return TRUE;
    *reinterpret_cast<HWND*>(out) = hwnd;
    return FALSE;
  }
  static void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD) {
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), &ModalDriver::Pick, LPARAM(&found));
    if (found == nullptr) return;  // not open yet: the timer fires again
    KillTimer(nullptr, id);
    drive_(found);
  }
  static inline std::function<bool(HWND)> is_it_;
  static inline std::function<void(HWND)> drive_;
};

}  // namespace win
