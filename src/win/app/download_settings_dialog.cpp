#include "win/app/download_settings_dialog.h"

#include <string>

#include "win/platform/wide_text.h"
#include "win/res/resource.h"
#include "win/ui/dialog_text.h"
#include "win/ui/work_area.h"
#include "win/skin/skinned_dialog.h"

namespace win {
namespace {

constexpr char kCaption[] = "下载ip列表设置";
constexpr std::string_view kDownloadSettingsNotSaved = "保存下载设置失败：";

bool Checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

void Check(HWND dialog, int id, bool on) {
  CheckDlgButton(dialog, id, on ? BST_CHECKED : BST_UNCHECKED);
}

}  // namespace

bool DownloadSettingsDialog::Create(HWND owner) {
  return CreateModeless(GetModuleHandleW(nullptr), IDD_DOWNLOAD_SETTINGS, owner);
}

void DownloadSettingsDialog::ShowCentred() {
  if (!IsWindowVisible(hwnd())) FillControls();
  ShowCentredOnOwner(hwnd());
}

INT_PTR DownloadSettingsDialog::HandleMessage(UINT msg, WPARAM wparam, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG:
      ApplySkin(hwnd(), {IDC_DOWNLOAD_INTERVAL, IDC_REFRESH_SECONDS});
      FillControls();
      return TRUE;
    case WM_COMMAND:
      // The "短效IP" tick shows the chosen URL's own.
      if (LOWORD(wparam) == IDC_LIST_URL && HIWORD(wparam) == CBN_SELCHANGE) OnUrlChosen();
      if (LOWORD(wparam) == IDOK) OnConfirm();
      if (LOWORD(wparam) == IDCANCEL) OnCancel();
      return TRUE;
    default:
      return FALSE;
  }
}

void DownloadSettingsDialog::FillControls() {
  HWND combo = Item(IDC_LIST_URL);
  SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  for (const std::string& url : settings_.urls) {
    SendMessageW(combo, CB_ADDSTRING, 0, LPARAM(Utf8ToWide(url).c_str()));
  }
  int selected = settings_.SelectedUrlIndex();
  if (selected >= 0) {
    SendMessageW(combo, CB_SETCURSEL, WPARAM(selected), 0);
  } else {
    SendMessageW(combo, CB_SETCURSEL, WPARAM(-1), 0);
    SetWindowTextW(combo, Utf8ToWide(settings_.url).c_str());
  }
  Check(hwnd(), IDC_DOWNLOAD_AT_START, settings_.download_at_start);
  Check(hwnd(), IDC_ADD_AS_FAVORITE, settings_.add_as_favorite);
  Check(hwnd(), IDC_KEEP_EXISTING, settings_.keep_existing);
  Check(hwnd(), IDC_SHORT_LIVED, settings_.IsShortLived(settings_.url));
  SetDialogItemText(hwnd(), IDC_DOWNLOAD_INTERVAL, std::to_string(settings_.interval_hours));
  SetDialogItemText(hwnd(), IDC_REFRESH_SECONDS, std::to_string(settings_.refresh_seconds));
}

void DownloadSettingsDialog::OnUrlChosen() {
  HWND combo = Item(IDC_LIST_URL);
  LRESULT chosen = SendMessageW(combo, CB_GETCURSEL, 0, 0);
  if (chosen < 0 || size_t(chosen) >= settings_.urls.size()) return;
  Check(hwnd(), IDC_SHORT_LIVED, settings_.IsShortLived(settings_.urls[size_t(chosen)]));
}

void DownloadSettingsDialog::OnConfirm() {
  core::DownloadSettingsFields fields;
  fields.url = DialogItemText(hwnd(), IDC_LIST_URL);
  fields.interval = DialogItemText(hwnd(), IDC_DOWNLOAD_INTERVAL);
  fields.download_at_start = Checked(hwnd(), IDC_DOWNLOAD_AT_START);
  fields.add_as_favorite = Checked(hwnd(), IDC_ADD_AS_FAVORITE);
  fields.keep_existing = Checked(hwnd(), IDC_KEEP_EXISTING);
  fields.short_lived = Checked(hwnd(), IDC_SHORT_LIVED);
  fields.refresh_seconds = DialogItemText(hwnd(), IDC_REFRESH_SECONDS);
  int bad_field = 0;
  if (auto message = core::ApplyDownloadSettingsFields(fields, &settings_, &bad_field)) {
    prompt_.Ask(hwnd(), *message, kCaption, MB_OK | MB_ICONEXCLAMATION);
    HWND edit = Item(bad_field == 1 ? IDC_REFRESH_SECONDS : IDC_DOWNLOAD_INTERVAL);
    SendMessageW(hwnd(), WM_NEXTDLGCTL, WPARAM(edit), TRUE);
    SendMessageW(edit, EM_SETSEL, 0, -1);
    return;
  }
  core::WriteStatus saved = core::SaveDownloadSettings(store_, &settings_);
  if (!saved) {
    // The settings would be lost at the next start: say so and stay open.
    prompt_.Ask(hwnd(), std::string(kDownloadSettingsNotSaved) + saved.reason(), kCaption,
                MB_OK | MB_ICONWARNING);
    FillControls();
    return;
  }
  ShowWindow(hwnd(), SW_HIDE);
  // The combo box now holds the confirmed URL among its entries, trimmed.
  FillControls();
}

void DownloadSettingsDialog::OnCancel() {
  core::LoadDownloadSettings(store_, &settings_);
  ShowWindow(hwnd(), SW_HIDE);
  FillControls();
}

}  // namespace win
