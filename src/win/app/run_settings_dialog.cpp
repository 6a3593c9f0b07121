#include "win/app/run_settings_dialog.h"

#include <algorithm>
#include <string>
#include <utility>

#include "win/res/resource.h"
#include "win/skin/skinned_dialog.h"
#include "win/ui/work_area.h"

namespace win {
namespace {

constexpr std::string_view kMessageCaption = "紫晶梨自动换IP软件";

struct CheckField {
  int id;
  bool core::RunSettings::*member;
};

constexpr CheckField kChecks[] = {
    {IDC_ONLY_WITH_BROWSER, &core::RunSettings::only_with_browser},
    {IDC_TRAY_ICON, &core::RunSettings::tray_icon},
    {IDC_AUTO_START, &core::RunSettings::auto_start},
    {IDC_DESKTOP_ICON, &core::RunSettings::desktop_icon},
    {IDC_ALL_THROUGH_RELAY, &core::RunSettings::all_through_relay},
};

}  // namespace

RunSettingsDialog::RunSettingsDialog(core::ProfileStore& profile, core::DesktopShortcuts& shortcuts,
                                     core::RunKeyStore& run_key, Prompt& prompt,
                                     std::string program_path, SettingsHandler on_confirmed)
    : profile_(profile),
      shortcuts_(shortcuts),
      run_key_(run_key),
      prompt_(prompt),
      program_path_(std::move(program_path)),
      on_confirmed_(std::move(on_confirmed)) {}

bool RunSettingsDialog::Create(HWND owner) {
  bool created = CreateModeless(GetModuleHandleW(nullptr), IDD_RUN_SETTINGS, owner);
  // The floating window reads the settings from the start, window or not.
  if (!created) Load();
  return created;
}

void RunSettingsDialog::ShowCentred() {
  Load();
  ShowCentredOnOwner(hwnd());
}

INT_PTR RunSettingsDialog::HandleMessage(UINT msg, WPARAM wparam, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG:
      ApplySkin(hwnd());
      Load();
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case IDOK:
          OnConfirm();
          return TRUE;
        case IDCANCEL:
          OnCancel();
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

void RunSettingsDialog::Load() {
  core::RunSettingsPlaces places{profile_, shortcuts_, run_key_};
  core::LoadRunSettings(places, &settings_);
  exit_ = core::LoadExitCheckSettings(profile_);
  if (hwnd() != nullptr) FillControls();
}

void RunSettingsDialog::FillControls() {
  for (const CheckField& check : kChecks) {
    CheckDlgButton(hwnd(), check.id, settings_.*check.member ? BST_CHECKED : BST_UNCHECKED);
  }
  CheckDlgButton(hwnd(), IDC_EXIT_CHECK, exit_.enabled ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(hwnd(), IDC_EXIT_FAILOVER, exit_.failover ? BST_CHECKED : BST_UNCHECKED);
  bool same_site = settings_.same_site_minutes > 0;
  CheckDlgButton(hwnd(), IDC_SAME_SITE, same_site ? BST_CHECKED : BST_UNCHECKED);
  SetDlgItemInt(hwnd(), IDC_SAME_SITE_MINUTES,
                UINT(same_site ? settings_.same_site_minutes : core::kDefaultSameSiteMinutes),
                FALSE);
}

void RunSettingsDialog::OnConfirm() {
  for (const CheckField& check : kChecks) {
    settings_.*check.member = IsDlgButtonChecked(hwnd(), check.id) == BST_CHECKED;
  }
  exit_.enabled = IsDlgButtonChecked(hwnd(), IDC_EXIT_CHECK) == BST_CHECKED;
  exit_.failover = IsDlgButtonChecked(hwnd(), IDC_EXIT_FAILOVER) == BST_CHECKED;
  settings_.same_site_minutes = 0;
  if (IsDlgButtonChecked(hwnd(), IDC_SAME_SITE) == BST_CHECKED) {
    BOOL read = FALSE;
    UINT minutes = GetDlgItemInt(hwnd(), IDC_SAME_SITE_MINUTES, &read, FALSE);
    // An empty or nonsense box keeps the offered time; a long one is cut to a day.
    settings_.same_site_minutes =
        read && minutes > 0 ? int32_t(std::min<UINT>(minutes, core::kMaxSameSiteMinutes))
                            : core::kDefaultSameSiteMinutes;
  }
  core::RunSettingsPlaces places{profile_, shortcuts_, run_key_};
  core::WriteStatus saved = core::SaveRunSettings(&settings_, program_path_, places);
  saved &= core::SaveExitCheckSettings(profile_, exit_);
  // The shortcut and autostart boxes show what the system holds now: a change
  // the system refused shows as not made.
  FillControls();
  if (on_confirmed_) on_confirmed_(settings_, exit_);
  if (!saved) {
    // The window options would be lost at the next start: say so and stay open.
    prompt_.Ask(hwnd(), std::string(kRunSettingsNotSavedMessage) + "\n" + saved.reason(),
                kMessageCaption, MB_OK | MB_ICONWARNING);
    return;
  }
  ShowWindow(hwnd(), SW_HIDE);
}

void RunSettingsDialog::OnCancel() {
  Load();
  ShowWindow(hwnd(), SW_HIDE);
}

}  // namespace win
