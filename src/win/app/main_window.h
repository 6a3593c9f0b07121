// MainWindow: the program's top-level window. Closing it ends the message loop
// with exit code 0. UI thread only.
#pragma once

#include <windows.h>

#include "win/ui/window_base.h"

namespace win {

class MainWindow : public WindowBase {
 public:
  static constexpr const wchar_t* kClassName = L"RelaymothMainWindow";

  explicit MainWindow(HINSTANCE instance) : instance_(instance) {}

  // Creates the window, titled with IDS_APP_TITLE and carrying IDI_MAIN, and
  // shows it with `show_command` (an SW_ value). Returns false on failure, with
  // GetLastError set.
  bool Create(int show_command);

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam) override;

 private:
  void OnDestroy();

  HINSTANCE instance_;
};

}  // namespace win
