#include "win/ui/message_loop.h"

namespace win {

int RunMessageLoop() { return RunMessageLoop(nullptr); }

int RunMessageLoop(const HWND* modeless_dialog) {
  MSG msg;
  for (;;) {
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(msg.wParam);
    if (got == -1) return -1;
    HWND dialog = modeless_dialog ? *modeless_dialog : nullptr;
    if (dialog != nullptr && IsWindow(dialog) && IsDialogMessageW(dialog, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

int RunDialogMessageLoop() {
  MSG msg;
  for (;;) {
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(msg.wParam);
    if (got == -1) return -1;
    // Modal dialogs run loops of their own, so an active dialog seen here is a
    // modeless one of this thread.
    HWND active = GetActiveWindow();
    wchar_t name[8] = {};
    if (active != nullptr && GetClassNameW(active, name, 8) > 0 && lstrcmpW(name, L"#32770") == 0 &&
        IsDialogMessageW(active, &msg)) {
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

}  // namespace win
