// The verify settings dialog (IDD_VERIFY_SETTINGS, "验证参数设置"): a modeless dialog owned by
// the main dialog, created hidden and only shown and hidden afterwards. It edits
// the program's VerifySettings in force (the switcher's), which the scheduler
// and the end-of-run rules read.
// Option edits count from "确定" on (IDC_RESET_FAVORITES at once); site list changes
// count at once; showing or hiding reloads the stored values. UI thread only.
#pragma once

#include <windows.h>

#include <array>
#include <functional>
#include <string>

#include "core/base/profile_store.h"
#include "core/base/secret_codec.h"
#include "core/verify/verify_settings.h"
#include "win/app/prompt.h"
#include "win/platform/unique_handle.h"
#include "win/ui/dialog_base.h"

namespace win {

// Widths of the site list's columns "启用", "验证服务器URL" and "验证字符串" for a
// list whose client area is `list_width` pixels wide at `dpi`: the first and
// the last scaled from their width at 96 dpi, the URL column filling the rest.
std::array<int, 3> SiteColumnWidths(int list_width, int dpi);

class VerifySettingsDialog final : public DialogBase {
 public:
  // `store`, `settings`, `prompt` and `secrets` must outlive the dialog.
  // `settings` are the settings in force; the dialog reloads them from `store`
  // when it is shown or hidden and writes them on "确定", the sites' passwords
  // sealed by `secrets` (null: saved without them).
  VerifySettingsDialog(core::ProfileStore& store, core::VerifySettings& settings, Prompt& prompt,
                       core::SecretCodec* secrets = nullptr);

  // Creates the dialog hidden. False when it could not be created.
  bool Create(HWND owner);
  // Centres the dialog on its owner and shows it.
  void ShowCentred();

  const core::VerifySettings& settings() const { return settings_; }

  // Opens the site editor for a new site / the selected site (IDC_NEW_SITE and
  // IDC_EDIT_SITE). Overridable by tests through the editor hook below.
  using SiteEditorHook =
      std::function<bool(HWND owner, std::string* url, std::string* verify_string)>;
  void SetSiteEditorHook(SiteEditorHook hook) { editor_ = std::move(hook); }

 protected:
  INT_PTR HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam) override;

 private:
  void OnInitDialog();
  void OnCommand(int id);
  INT_PTR OnNotify(const NMHDR* header);
  // Gives the site list's arrow and cross buttons their bold glyph font.
  void SetGlyphButtonFont();
  void Load();
  void FillControls();
  void FillSiteList();
  // Fits the site list's columns to its width at the window's DPI.
  void FitSiteColumns();
  void EnableResetDependents();
  void OnConfirm();
  void OnCancel();
  void OnNewSite();
  void OnEditSite(int row);
  void OnDeleteSite();
  void OnMove(int id);
  int SelectedSite() const;
  // The index of a site equal to `site`, trying `hint` first; -1 when none is.
  int FindSite(const core::VerifySite& site, int hint) const;
  void SelectSite(int row);

  core::ProfileStore& store_;
  core::VerifySettings& settings_;
  Prompt& prompt_;
  core::SecretCodec* secrets_;
  SiteEditorHook editor_;
  UniqueFont glyph_font_;  // the arrow and cross buttons' font
  bool filling_ = false;  // the list is being refilled: its notifications are ours
};

}  // namespace win
