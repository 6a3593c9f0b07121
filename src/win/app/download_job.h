// DownloadJob: the list download on a thread of its own, so that the program
// stays responsive while a list arrives. One download at a time: a start while
// one runs is refused. The thread posts its progress and its end to a window;
// the UI thread reads them from the job. The program's owner holds one job for
// the process. Every method is for the UI thread; the job's thread touches only
// the job's shared state and posts messages.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "win/platform/app_messages.h"
#include "core/base/clock.h"
#include "core/download/download_file.h"
#include "core/download/file_writer.h"
#include "core/download/url_downloader.h"

namespace win {

struct DownloadRequest {
  std::string url;
  std::string path;     // UTF-8; see DownloadTargetPath
  bool report = false;  // user-started: the end is reported to the user
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
  // keep them alive.
  DownloadJob(DownloaderFactory downloaders, std::shared_ptr<core::FileWriter> files,
              std::shared_ptr<core::Clock> clock);
  // Abandons a running download without waiting for it: it is aborted, posts
  // nothing more and never replaces the file.
  ~DownloadJob();
  DownloadJob(const DownloadJob&) = delete;
  DownloadJob& operator=(const DownloadJob&) = delete;

  // Starts `request`, posting its progress and its end to `window`. False, with
  // nothing changed, while a download runs or when no thread can be started.
  bool Start(DownloadRequest request, HWND window);
  // While a download runs: its progress and end go to `window` from now on,
  // and when `report` it is reported to the user (a user start that finds an
  // automatic download running takes that one over). False when none runs.
  bool Redirect(HWND window, bool report);
  // From Start until the thread has posted WM_DOWNLOAD_DONE.
  bool busy() const;

  // The latest progress of the running or the last download. Taking it lets
  // the next chunk post WM_DOWNLOAD_PROGRESS again.
  DownloadProgressState TakeProgress();
  // The oldest download whose WM_DOWNLOAD_DONE was posted and not yet taken.
  // False when there is none.
  bool TakeFinished(FinishedDownload* finished);

  class State;

 private:
  static DWORD WINAPI ThreadMain(void* param);

  DownloaderFactory downloaders_;
  std::shared_ptr<core::FileWriter> files_;
  std::shared_ptr<core::Clock> clock_;
  std::shared_ptr<State> state_;
};

// The real parts: WinInetUrlDownloader, DiskFileWriter and WinClock.
std::unique_ptr<DownloadJob> MakeWinInetDownloadJob();

// Where "Download.txt" goes: the program's folder when a file can be created
// there, else "Relaymoth" in the user's local application-data folder, which
// is created when missing. UTF-8.
std::string DownloadTargetPath();
// The same for given folders (UTF-8), for tests.
std::string DownloadTargetPath(std::string_view program_folder, std::string_view local_app_data);

}  // namespace win
