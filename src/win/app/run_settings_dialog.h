// The run settings dialog (IDD_RUN_SETTINGS, "运行参数设置"): a modeless dialog owned by the
// main dialog, created hidden and shown by its button IDC_RUN_SETTINGS. It edits the
// program's RunSettings: the browser watch and tray options in the profile,
// and the desktop shortcut and the Run value where they act. The floating
// window reads settings() on its timers. UI thread only.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

#include "core/app/run_settings.h"
#include "core/base/profile_store.h"
#include "core/sysproxy/exit_check.h"
#include "win/app/prompt.h"
#include "win/ui/dialog_base.h"

namespace win {

// The message shown when the profile refused the settings.
inline constexpr std::string_view kRunSettingsNotSavedMessage =
    "运行参数无法保存到注册表，请检查权限后重试。";

class RunSettingsDialog final : public DialogBase {
 public:
  // Called after every "确定" with the settings now in force (the program
  // applies them: the tray icon, the browser watch, the exit check).
  using SettingsHandler =
      std::function<void(const core::RunSettings& settings, const core::ExitCheckSettings& exit)>;

  // Everything passed must outlive the dialog. `program_path` is the program
  // file the shortcut and the Run value start.
  RunSettingsDialog(core::ProfileStore& profile, core::DesktopShortcuts& shortcuts,
                    core::RunKeyStore& run_key, Prompt& prompt, std::string program_path,
                    SettingsHandler on_confirmed);

  // Creates the dialog hidden and loads the settings. False when it could not
  // be created (the settings are loaded all the same).
  bool Create(HWND owner);
  // Reloads the settings (the shortcut or the Run value may have changed
  // outside), centres the dialog on its owner and shows it.
  void ShowCentred();

  // The settings in force: the last loaded or saved ones.
  const core::RunSettings& settings() const { return settings_; }
  const core::ExitCheckSettings& exit_check_settings() const { return exit_; }

 protected:
  INT_PTR HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam) override;

 private:
  void Load();
  void FillControls();
  void OnConfirm();
  void OnCancel();

  core::ProfileStore& profile_;
  core::DesktopShortcuts& shortcuts_;
  core::RunKeyStore& run_key_;
  Prompt& prompt_;
  std::string program_path_;
  SettingsHandler on_confirmed_;
  core::RunSettings settings_;
  // The exit check's two switches live here too ("Exit Check" in the profile).
  core::ExitCheckSettings exit_;
};

}  // namespace win
