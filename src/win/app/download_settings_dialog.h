// The download settings dialog (IDD_DOWNLOAD_SETTINGS, "下载ip列表设置"): the list URLs in a combo
// box with the "短效IP" tick of the URL shown, the automatic download switches,
// the short-lived links' refresh in seconds and the two import options. A modeless
// dialog owned by the main dialog, created hidden and only shown and hidden
// afterwards. It edits the DownloadSettings in force (the program owner's),
// which the schedule and the end of a download read: "确定" checks, applies
// and saves them, "取消" reloads them from the profile. UI thread only.
#pragma once

#include <windows.h>

#include "core/base/profile_store.h"
#include "core/download/download_settings.h"
#include "win/app/prompt.h"
#include "win/ui/dialog_base.h"

namespace win {

class DownloadSettingsDialog final : public DialogBase {
 public:
  // `store`, `settings` and `prompt` must outlive the dialog. `settings` are
  // the settings in force, already loaded by their owner; the dialog shows
  // them, and reloads them from `store` only on "取消".
  DownloadSettingsDialog(core::ProfileStore& store, core::DownloadSettings& settings,
                         Prompt& prompt)
      : store_(store), settings_(settings), prompt_(prompt) {}

  // Creates the dialog hidden. False when it could not be created.
  bool Create(HWND owner);
  // Centres the dialog on its owner and shows it; a dialog already open is
  // centred again and keeps what the user has typed.
  void ShowCentred();

 protected:
  INT_PTR HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam) override;

 private:
  void FillControls();
  void OnUrlChosen();
  void OnConfirm();
  void OnCancel();

  core::ProfileStore& store_;
  core::DownloadSettings& settings_;
  Prompt& prompt_;
};

}  // namespace win
