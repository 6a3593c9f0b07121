// Prompt: everything that waits for the user or hands over to another program
// (message boxes, file choosers, pages opened in the browser), behind one small
// seam so that window tests can answer instead of a person. UI thread only.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace win {

class Prompt {
 public:
  virtual ~Prompt() = default;
  // A message box: `type` is the MB_ flags; returns the button pressed (IDOK,
  // IDYES, IDNO, IDCANCEL).
  virtual int Ask(HWND owner, std::string_view text, std::string_view caption, UINT type) = 0;
  // File choosers with the list-file filter; false when the user cancels.
  virtual bool ChooseFileToOpen(HWND owner, std::string* path) = 0;
  virtual bool ChooseFileToSave(HWND owner, std::string* path) = 0;
  // Opens a URL or a local file with the shell's "open" verb; the outcome is ignored.
  virtual void OpenPage(HWND owner, std::string_view url_or_file) = 0;
};

// The real thing: MessageBoxW, the common file dialogs and ShellExecuteW.
class DesktopPrompt final : public Prompt {
 public:
  int Ask(HWND owner, std::string_view text, std::string_view caption, UINT type) override;
  bool ChooseFileToOpen(HWND owner, std::string* path) override;
  bool ChooseFileToSave(HWND owner, std::string* path) override;
  void OpenPage(HWND owner, std::string_view url_or_file) override;
};

}  // namespace win
