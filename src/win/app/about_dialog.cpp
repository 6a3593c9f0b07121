#include "win/app/about_dialog.h"

#include "win/res/resource.h"
#include "win/ui/dialog_base.h"
#include "win/skin/skinned_dialog.h"

namespace win {
namespace {

class AboutDialog final : public DialogBase {
 public:
  AboutDialog(Prompt& prompt, const std::string& page) : prompt_(prompt), page_(page) {}
  INT_PTR Run(HINSTANCE instance, HWND owner) { return RunModal(instance, IDD_ABOUT, owner); }

 private:
  INT_PTR HandleMessage(UINT msg, WPARAM wparam, LPARAM) override {
    switch (msg) {
      case WM_INITDIALOG:
        ApplySkin(hwnd());
        return TRUE;
      case WM_COMMAND:
        switch (LOWORD(wparam)) {
          case IDOK:
          case IDCANCEL:
            EndDialog(hwnd(), LOWORD(wparam));
            return TRUE;
          case IDC_ABOUT_SITE:
          case IDC_ABOUT_HELP:
            // There is no web site to visit: both open the page that ships with
            // the program, so neither link can be dead.
            prompt_.OpenPage(hwnd(), page_);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
  }

  Prompt& prompt_;
  std::string page_;
};

}  // namespace

void RunAboutDialog(HINSTANCE instance, HWND owner, Prompt& prompt, const std::string& help_page) {
  AboutDialog dialog(prompt, help_page);
  dialog.Run(instance, owner);
}

}  // namespace win
