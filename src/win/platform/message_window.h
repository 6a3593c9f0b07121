// MessageWindow: a message-only window (never shown, never part of a broadcast)
// that hands every message to one function: the window of a thread's
// Dispatcher, and the prober thread's window that the system tells of its
// sockets' connects. It lives on the thread that creates it; the window goes
// with the object.
#pragma once

#include <windows.h>

#include <functional>
#include <utility>

namespace win {

class MessageWindow final {
 public:
  // Returns true when it handled the message; the rest go to DefWindowProc.
  using Handler = std::function<bool(UINT msg, WPARAM wparam, LPARAM lparam)>;

  explicit MessageWindow(Handler handler) : handler_(std::move(handler)) {}
  ~MessageWindow();
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;

  // Creates the window, of class `class_name` (registered on first use). False
  // (with GetLastError set) when it could not be made or exists already.
  bool Create(const wchar_t* class_name);
  // Null before Create succeeds and after the window is gone.
  HWND hwnd() const { return hwnd_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);

  Handler handler_;
  HWND hwnd_ = nullptr;
};

// Creates `window` of class `class_name` and returns its handle; null when it
// could not be made (then its timers and posts go nowhere).
inline HWND CreateMessageWindow(MessageWindow& window, const wchar_t* class_name) {
  return window.Create(class_name) ? window.hwnd() : nullptr;
}

}  // namespace win
