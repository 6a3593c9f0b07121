// DownloadJob: the list download on a thread of its own, so that the program
// stays responsive while a list arrives, under an overall deadline kept by a
// second thread that waits for the first. One download at a time: a start while
// one runs is refused; a cancelled or timed-out one frees the job at once. The
// threads post progress and the end to a window; the UI thread reads them from
// the job. The list downloads own one job for the process. Every method is for
// the UI thread; the threads touch only the job's shared state and post.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/clock.h"
#include "core/download/download_file.h"
#include "core/download/list_sources.h"
#include "core/download/file_writer.h"
#include "core/download/url_downloader.h"
#include "win/platform/app_messages.h"

namespace win {

struct DownloadRequest {
  std::string url;
  std::string path;     // UTF-8; see DownloadTargetPath
  bool report = false;  // user-started: the end is reported to the user
  // A deadline of its own, shorter than the job's (a short-lived link that
  // does not answer must not hold up its next refresh); 0: the job's.
  uint32_t deadline_ms = 0;
};

struct DownloadProgressState {
  std::string text;   // "%d KB / %d KB @ %1.1f KB/s"; empty before the first chunk
  int position = -1;  // 0..100, or -1 while the length is unknown
};

struct FinishedDownload {
  DownloadRequest request;
  core::DownloadOutcome outcome;
};

// Who handles a download's end (imports it, says what happened): the list
// downloads. The progress window hands the end of a download it showed here.
class DownloadDoneHandler {
 public:
  virtual ~DownloadDoneHandler() = default;
  // `result` and `report` as WM_DOWNLOAD_DONE carried them.
  virtual void OnDownloadDone(WPARAM result, LPARAM report) = 0;
};

class DownloadJob {
 public:
  // Called on the UI thread at each start; the downloader is then used on the
  // job's thread (and aborted from the UI thread when the job goes away).
  using DownloaderFactory = std::function<std::unique_ptr<core::UrlDownloader>()>;

  // `files` and `clock` must be safe on any thread; the job and its threads
  // keep them alive. A download still running `deadline_ms` after its start
  // is aborted and ends as kDownloadReadFailed.
  // The URLs a request's URL is fetched from, tried in turn (core::MirrorUrls:
  // a built-in list's mirrors, any other URL alone).
  using MirrorList = std::function<std::vector<std::string>(std::string_view url)>;

  // `check` (when given) looks at each whole body before it replaces the file,
  // on the download's thread; a refused body counts as that mirror's failure.
  DownloadJob(DownloaderFactory downloaders, std::shared_ptr<core::FileWriter> files,
              std::shared_ptr<core::Clock> clock, uint32_t deadline_ms = core::kDownloadDeadlineMs,
              MirrorList mirrors = core::MirrorUrls, core::BodyCheck check = {});
  // Abandons a running download without waiting for it (see Cancel).
  ~DownloadJob();
  DownloadJob(const DownloadJob&) = delete;
  DownloadJob& operator=(const DownloadJob&) = delete;

  // Starts `request`, posting its progress and its end to `window`. False, with
  // nothing changed, while a download runs or when no thread can be started.
  bool Start(DownloadRequest request, HWND window);
  // Abandons the running download without waiting for it: it is aborted,
  // posts nothing more and never replaces the file, and the job is free for
  // the next start at once. False when none runs.
  bool Cancel();
  // The running download's request; nullopt when none runs.
  std::optional<DownloadRequest> running() const;
  // While a download runs: its progress and end go to `window` from now on,
  // and when `report` it is reported to the user. False when none runs.
  bool Redirect(HWND window, bool report);
  // From Start until WM_DOWNLOAD_DONE was posted or the download cancelled.
  bool busy() const;

  // The latest progress of the running or the last download. Taking it lets
  // the next chunk post WM_DOWNLOAD_PROGRESS again.
  DownloadProgressState TakeProgress();
  // The oldest download whose WM_DOWNLOAD_DONE was posted and not yet taken.
  // False when there is none.
  bool TakeFinished(FinishedDownload* finished);

  class State;

 private:
  DownloaderFactory downloaders_;
  std::shared_ptr<core::FileWriter> files_;
  std::shared_ptr<core::Clock> clock_;
  uint32_t deadline_ms_;
  MirrorList mirrors_;
  core::BodyCheck check_;
  std::shared_ptr<State> state_;
};

// The real parts: WinInetUrlDownloader, WinFileWriter and WinClock; a body
// is taken only when it holds proxies (core::ListBodyProblem).
std::unique_ptr<DownloadJob> MakeWinInetDownloadJob(
    uint32_t deadline_ms = core::kDownloadDeadlineMs,
    DownloadJob::MirrorList mirrors = core::MirrorUrls);

// Where "Download.txt" goes: the program's folder when a file can be created
// there, else "Relaymoth" in the user's local application-data folder, which
// is created when missing. UTF-8.
std::string DownloadTargetPath();
// The same for given folders (UTF-8), for tests.
std::string DownloadTargetPath(std::string_view program_folder, std::string_view local_app_data);

}  // namespace win
