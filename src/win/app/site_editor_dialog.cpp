#include "win/app/site_editor_dialog.h"

#include "win/ui/dialog_text.h"
#include "win/res/resource.h"
#include "win/skin/skinned_dialog.h"

namespace win {

INT_PTR SiteEditorDialog::Run(HWND owner) {
  return RunModal(GetModuleHandleW(nullptr), IDD_SITE_EDITOR, owner);
}

INT_PTR SiteEditorDialog::HandleMessage(UINT msg, WPARAM wparam, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG:
      ApplySkin(hwnd(), {IDC_SITE_URL, IDC_SITE_USER, IDC_SITE_PASSWORD, IDC_SITE_VERIFY_STRING});
      OnInitDialog();
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK) {
        OnConfirm();
        return TRUE;
      }
      if (LOWORD(wparam) == IDCANCEL) {
        EndDialog(hwnd(), IDCANCEL);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

void SiteEditorDialog::OnInitDialog() {
  SetDialogItemText(hwnd(), IDC_SITE_URL, fields_.url);
  SetDialogItemText(hwnd(), IDC_SITE_USER, fields_.user);
  SetDialogItemText(hwnd(), IDC_SITE_PASSWORD, fields_.password);
  SetDialogItemText(hwnd(), IDC_SITE_VERIFY_STRING, fields_.verify_string);
  // A site that is already in the list is changed, not added.
  if (!fields_.url.empty()) SetDialogItemText(hwnd(), IDOK, "保存修改");
}

void SiteEditorDialog::OnConfirm() {
  core::SiteEditorFields typed;
  typed.url = DialogItemText(hwnd(), IDC_SITE_URL);
  typed.user = DialogItemText(hwnd(), IDC_SITE_USER);
  typed.password = DialogItemText(hwnd(), IDC_SITE_PASSWORD);
  typed.verify_string = DialogItemText(hwnd(), IDC_SITE_VERIFY_STRING);
  core::SiteEditorResult result;
  if (auto refusal = core::ConfirmSiteEditor(typed, &result)) {
    prompt_.Ask(hwnd(), refusal->message, refusal->caption, MB_OK | MB_ICONWARNING);
    int focus =
        refusal->focus == core::SiteEditorField::kUrl ? IDC_SITE_URL : IDC_SITE_VERIFY_STRING;
    SendMessageW(hwnd(), WM_NEXTDLGCTL, WPARAM(GetDlgItem(hwnd(), focus)), TRUE);
    return;
  }
  fields_ = std::move(typed);
  result_ = std::move(result);
  EndDialog(hwnd(), IDOK);
}

bool RunSiteEditor(HWND owner, Prompt& prompt, std::string* site_url,
                   std::string* verify_string) {
  SiteEditorDialog dialog(core::SplitSiteUrl(*site_url, *verify_string), prompt);
  if (dialog.Run(owner) != IDOK) return false;
  *site_url = core::ComposeSiteUrl(dialog.result(), dialog.fields().user, dialog.fields().password);
  *verify_string = dialog.fields().verify_string;
  return true;
}

}  // namespace win
