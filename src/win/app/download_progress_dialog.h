// The download progress window (IDD_DOWNLOAD_PROGRESS, "正在从指定站点下载ip列表(请耐心等待)"): a
// modeless dialog without buttons that shows the running download's progress
// texts; Escape and its close box cancel the download. Shown for a download
// the user starts, kept hidden for automatic ones.
// It is the job's watcher: it hides itself when the download ends and then hands
// the end to the handler (the list downloads). Owned by the main dialog,
// created hidden; the job belongs to the list downloads. UI thread only.
#pragma once

#include <windows.h>

#include <string>

#include "win/app/download_job.h"
#include "win/ui/dialog_base.h"

namespace win {

class DownloadProgressDialog final : public DialogBase, private DownloadWatcher {
 public:
  // `job` must outlive the dialog.
  explicit DownloadProgressDialog(DownloadJob& job) : job_(job) {}

  // Creates the dialog hidden, owned by `owner`. A download's end goes on to
  // `done` (which must outlive the dialog; null: nowhere) after the dialog has
  // hidden itself. False when it could not be created.
  bool Create(HWND owner, DownloadDoneHandler* done);

  // A download the user asked for: centres the window over its owner, shows it
  // with "正在连接服务器..." and starts `url` into `path`, reported to the user.
  // A running automatic download is cancelled first, and so is a user's one
  // of another URL; the user's own one of the same URL is shown instead. False
  // (and the window stays hidden) when nothing could be started.
  bool StartVisible(std::string url, std::string path);
  // An automatic download: starts it without showing the window and without
  // reporting to the user. False, starting nothing, while a download runs.
  bool ArmHidden(std::string url, std::string path);

 protected:
  INT_PTR HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam) override;

 private:
  void ShowCentred();
  void SetStatus(const std::wstring& text);
  void OnProgress();
  // Escape or the close box while the window shows a download: cancels it
  // silently and hides.
  void OnCancel();
  // DownloadWatcher
  void OnDownloadProgress() override { OnProgress(); }
  void OnDownloadDone(WPARAM result, LPARAM report) override;
  Poster download_poster() const override { return inbox_.poster(); }

  DownloadJob& job_;
  DownloadDoneHandler* done_ = nullptr;
  Inbox inbox_;
};

}  // namespace win
