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

}  // namespace win
