// The destination site editor (IDD_SITE_EDITOR, "验证站点信息"): a modal dialog with
// the site's URL, user name, password and verify string. Confirmation runs the
// core's checks and refuses with a message box, keeping the dialog open. UI
// thread only.
#pragma once

#include <windows.h>

#include <string>

#include "core/verify/site_editor.h"
#include "win/app/prompt.h"
#include "win/ui/dialog_base.h"

namespace win {

class SiteEditorDialog final : public DialogBase {
 public:
  // `fields` fill the four edits; on confirmation they hold what was typed
  // (the URL trimmed) and `result()` the scheme and the rest of the URL.
  // Refusals are shown through `prompt`.
  SiteEditorDialog(core::SiteEditorFields fields, Prompt& prompt)
      : fields_(std::move(fields)), prompt_(prompt) {}

  // IDOK when confirmed, IDCANCEL when cancelled, -1 when the dialog failed.
  INT_PTR Run(HWND owner);

  const core::SiteEditorFields& fields() const { return fields_; }
  const core::SiteEditorResult& result() const { return result_; }

 protected:
  INT_PTR HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam) override;

 private:
  void OnInitDialog();
  void OnConfirm();

  core::SiteEditorFields fields_;
  Prompt& prompt_;
  core::SiteEditorResult result_;
};

// Opens the editor filled from `site_url` and `verify_string` (credentials in the
// URL go to the user name and password edits). On confirmation stores the
// composed URL and the verify string and returns true.
bool RunSiteEditor(HWND owner, Prompt& prompt, std::string* site_url, std::string* verify_string);

}  // namespace win
