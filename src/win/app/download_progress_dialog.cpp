#include "win/app/download_progress_dialog.h"

#include <optional>
#include <utility>

#include "core/base/text.h"
#include "win/platform/resources.h"
#include "win/platform/wide_text.h"
#include "win/res/resource.h"
#include "win/skin/skinned_dialog.h"
#include "win/ui/work_area.h"

namespace win {

bool DownloadProgressDialog::Create(HWND owner, DownloadDoneHandler* done) {
  done_ = done;
  return CreateModeless(GetModuleHandleW(nullptr), IDD_DOWNLOAD_PROGRESS, owner);
}

bool DownloadProgressDialog::StartVisible(std::string url, std::string path) {
  if (hwnd() == nullptr) return false;
  // The list the user asked for, fetched now: a running automatic download
  // (possibly of another list, or stuck on a server that does not answer)
  // makes way, as does the user's own one of another URL; his own one of the
  // same URL goes on and is shown.
  bool took_over = false;
  if (std::optional<DownloadRequest> running = job_.running()) {
    if (running->report && core::Trim(running->url) == core::Trim(url)) {
      took_over = job_.Redirect(this, true);
    } else {
      job_.Cancel();
    }
  }
  if (!took_over && !job_.Start(DownloadRequest{std::move(url), std::move(path), true}, this)) {
    return false;
  }
  // Shown only once the job runs: a refused start must not leave a window
  // that nothing will ever hide.
  ShowCentred();
  if (took_over) OnProgress();  // where the running download has got to
  return true;
}

bool DownloadProgressDialog::ArmHidden(std::string url, std::string path) {
  if (hwnd() == nullptr) return false;
  return job_.Start(DownloadRequest{std::move(url), std::move(path), false}, this);
}

void DownloadProgressDialog::ShowCentred() {
  CentreOnOwner(hwnd());
  ShowWindow(hwnd(), SW_SHOW);
  UpdateWindow(hwnd());
}

INT_PTR DownloadProgressDialog::HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case WM_INITDIALOG:
      ApplySkin(hwnd());
      return TRUE;
    case WM_SHOWWINDOW:
      // Every show starts from the connecting text, whatever an earlier
      // (possibly hidden) download left in the label.
      if (wparam == TRUE) {
        SetStatus(LoadResourceString(GetModuleHandleW(nullptr), IDS_CONNECTING));
      }
      return FALSE;
    case WM_COMMAND:
      // Escape; Enter has nothing to confirm.
      if (LOWORD(wparam) == IDCANCEL) OnCancel();
      return TRUE;
    case WM_CLOSE:  // the caption's close box
      OnCancel();
      return TRUE;
    default:
      return FALSE;
  }
}

void DownloadProgressDialog::SetStatus(const std::wstring& text) {
  SetDlgItemTextW(hwnd(), IDC_DOWNLOAD_STATUS, text.c_str());
}

void DownloadProgressDialog::OnProgress() {
  DownloadProgressState progress = job_.TakeProgress();
  if (progress.text.empty()) return;
  SetStatus(Utf8ToWide(progress.text));
}

void DownloadProgressDialog::OnCancel() {
  if (!IsWindowVisible(hwnd())) return;
  // The user ended it: nothing is imported and nothing is said.
  job_.Cancel();
  ShowWindow(hwnd(), SW_HIDE);
}

void DownloadProgressDialog::OnDownloadDone(WPARAM result, LPARAM report) {
  ShowWindow(hwnd(), SW_HIDE);
  // Handed on at once: the list is imported (and its summary shown) before
  // anything else queued for the UI thread runs.
  if (done_ != nullptr) done_->OnDownloadDone(result, report);
}

}  // namespace win
