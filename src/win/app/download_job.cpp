#include "win/app/download_job.h"

#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <mutex>
#include <utility>

#include "core/base/text.h"
#include "core/download/provider_answer.h"
#include "win/platform/unique_handle.h"
#include "win/platform/wide_text.h"
#include "win/platform/win_clock.h"
#include "win/platform/win_file_writer.h"
#include "win/platform/wininet_url_downloader.h"

namespace win {

namespace {

// One download, shared by the job and the download's two threads.
struct Run {
  std::shared_ptr<core::UrlDownloader> downloader;
  // Ended (reported, cancelled, timed out, or the job is gone): the download
  // posts nothing and commits nothing from now on. Behind the job's mutex.
  bool over = false;
};

}  // namespace

// What the UI thread and the download's threads share. Every field is behind
// the mutex, which is never held across a network call or a post.
class DownloadJob::State {
 public:
  std::mutex mutex;
  std::shared_ptr<Run> current;  // the running download; null when none runs
  bool progress_posted = false;  // a WM_DOWNLOAD_PROGRESS waits to be taken
  HWND window = nullptr;
  DownloadRequest request;  // the running (or last) download's
  DownloadProgressState progress;
  std::deque<FinishedDownload> finished;
};

namespace {

using State = DownloadJob::State;

// Hands the chunks' progress to the UI: the latest text and position are kept,
// and a post goes out only when the UI has taken the previous one, so a fast
// transfer cannot flood the UI thread's queue.
class ProgressRelay final : public core::DownloadProgress {
 public:
  ProgressRelay(State& state, std::shared_ptr<Run> run) : state_(state), run_(std::move(run)) {}

  void OnText(std::string_view text) override {
    HWND post_to = nullptr;
    {
      std::lock_guard lock(state_.mutex);
      if (run_->over) return;
      state_.progress.text = std::string(text);
      if (!state_.progress_posted) {
        state_.progress_posted = true;
        post_to = state_.window;
      }
    }
    if (post_to != nullptr) PostMessageW(post_to, WM_DOWNLOAD_PROGRESS, 0, 0);
  }

  void OnPosition(int percent) override {
    std::lock_guard lock(state_.mutex);
    if (!run_->over) state_.progress.position = percent;
  }

 private:
  State& state_;
  std::shared_ptr<Run> run_;
};

// A download that has been cancelled or has run out of time may still come to
// its end (Wine does not interrupt a call in progress when its handles are
// closed); it must not then put its file over the previous list, nor over one
// that a later download wrote.
class GuardedPendingFile final : public core::PendingFile {
 public:
  GuardedPendingFile(std::unique_ptr<core::PendingFile> file, std::shared_ptr<State> state,
                     std::shared_ptr<Run> run)
      : file_(std::move(file)), state_(std::move(state)), run_(std::move(run)) {}

  bool Write(std::string_view bytes) override { return file_->Write(bytes); }
  bool Commit() override {
    {
      std::lock_guard lock(state_->mutex);
      if (run_->over) return false;
    }
    return file_->Commit();
  }

 private:
  std::unique_ptr<core::PendingFile> file_;
  std::shared_ptr<State> state_;
  std::shared_ptr<Run> run_;
};

class GuardedFileWriter final : public core::FileWriter {
 public:
  GuardedFileWriter(core::FileWriter& files, std::shared_ptr<State> state, std::shared_ptr<Run> run)
      : files_(files), state_(std::move(state)), run_(std::move(run)) {}

  std::unique_ptr<core::PendingFile> Begin(std::string_view path) override {
    std::unique_ptr<core::PendingFile> file = files_.Begin(path);
    if (!file) return nullptr;
    return std::make_unique<GuardedPendingFile>(std::move(file), state_, run_);
  }

 private:
  core::FileWriter& files_;
  std::shared_ptr<State> state_;
  std::shared_ptr<Run> run_;
};

// Everything the transfer's thread needs; it keeps the shared parts alive
// however long the transfer takes, also after the watch has given up on it.
struct TransferParams {
  std::shared_ptr<State> state;
  std::shared_ptr<Run> run;
  std::shared_ptr<core::FileWriter> files;
  std::shared_ptr<core::Clock> clock;
  DownloadRequest request;
  std::vector<std::string> urls;  // the request's URL and its mirrors, in turn
  core::BodyCheck check;
  // Read by the watch only once the thread has ended.
  std::shared_ptr<core::DownloadOutcome> outcome;
};

DWORD WINAPI TransferMain(void* param) {
  std::unique_ptr<TransferParams> p(static_cast<TransferParams*>(param));
  ProgressRelay relay(*p->state, p->run);
  GuardedFileWriter files(*p->files, p->state, p->run);
  // A built-in list is tried on each of its mirrors in turn.
  *p->outcome = core::DownloadFromMirrors(*p->run->downloader, files, *p->clock, p->urls,
                                          p->request.path, &relay, p->check);
  return 0;
}

// The download's first thread: starts the transfer on a second one and waits
// for it until the deadline, then reports the end. A blocked WinInet call
// cannot be interrupted under Wine, so the transfer is left to end by itself.
struct WatchParams {
  std::unique_ptr<TransferParams> transfer;
  uint32_t deadline_ms;
};

DWORD WINAPI WatchMain(void* param) {
  std::unique_ptr<WatchParams> p(static_cast<WatchParams*>(param));
  std::shared_ptr<State> state = p->transfer->state;
  std::shared_ptr<Run> run = p->transfer->run;
  std::shared_ptr<core::DownloadOutcome> outcome = p->transfer->outcome;
  TransferParams* transfer = p->transfer.release();
  UniqueKernelHandle thread(CreateThread(nullptr, 0, &TransferMain, transfer, 0, nullptr));
  core::DownloadOutcome result;
  if (!thread) {
    delete transfer;
    result = {core::kDownloadNoInternet, "无法启动下载线程"};
  } else if (WaitForSingleObject(thread.get(), p->deadline_ms) == WAIT_OBJECT_0) {
    result = *outcome;
  } else {
    result = {core::kDownloadReadFailed,
              core::Format("下载超时，已停止 (超过 %d 秒)", int(p->deadline_ms / 1000))};
  }

  HWND post_to = nullptr;
  LPARAM report = 0;
  {
    std::lock_guard lock(state->mutex);
    if (!run->over) {
      run->over = true;
      state->current.reset();
      // The request as it stands now: a user start may have taken it over.
      state->finished.push_back(FinishedDownload{state->request, result});
      post_to = state->window;
      report = state->request.report ? 1 : 0;
    }
  }
  // Past the deadline this closes the transfer's handles (a read that Wine
  // lets go of then returns at once); after a finished transfer, nothing.
  run->downloader->Abort();
  if (post_to != nullptr &&
      !PostMessageW(post_to, WM_DOWNLOAD_DONE, WPARAM(result.result), report)) {
    // Nobody will take it: the window is gone.
    std::lock_guard lock(state->mutex);
    if (!state->finished.empty()) state->finished.pop_back();
  }
  return 0;
}

}  // namespace

DownloadJob::DownloadJob(DownloaderFactory downloaders, std::shared_ptr<core::FileWriter> files,
                         std::shared_ptr<core::Clock> clock, uint32_t deadline_ms,
                         MirrorList mirrors, core::BodyCheck check)
    : downloaders_(std::move(downloaders)),
      files_(std::move(files)),
      clock_(std::move(clock)),
      deadline_ms_(deadline_ms),
      mirrors_(std::move(mirrors)),
      check_(std::move(check)),
      state_(std::make_shared<State>()) {}

DownloadJob::~DownloadJob() { Cancel(); }

bool DownloadJob::Start(DownloadRequest request, HWND window) {
  std::shared_ptr<core::UrlDownloader> downloader = downloaders_();
  if (!downloader) return false;
  auto run = std::make_shared<Run>();
  run->downloader = std::move(downloader);
  {
    std::lock_guard lock(state_->mutex);
    if (state_->current) return false;
    state_->current = run;
    state_->window = window;
    state_->request = request;
    state_->progress = DownloadProgressState{};
    state_->progress_posted = false;
  }
  uint32_t deadline_ms =
      request.deadline_ms != 0 ? std::min(request.deadline_ms, deadline_ms_) : deadline_ms_;
  std::vector<std::string> urls = mirrors_ ? mirrors_(request.url) : std::vector<std::string>{};
  if (urls.empty()) urls.push_back(request.url);
  auto transfer = std::make_unique<TransferParams>(
      TransferParams{state_, run, files_, clock_, std::move(request), std::move(urls), check_,
                     std::make_shared<core::DownloadOutcome>()});
  auto* params = new WatchParams{std::move(transfer), deadline_ms};
  // The threads are never waited for: their handles are closed on return.
  UniqueKernelHandle thread(CreateThread(nullptr, 0, &WatchMain, params, 0, nullptr));
  if (!thread) {
    delete params;
    std::lock_guard lock(state_->mutex);
    run->over = true;
    if (state_->current == run) state_->current.reset();
    return false;
  }
  return true;
}

bool DownloadJob::Cancel() {
  std::shared_ptr<Run> run;
  {
    std::lock_guard lock(state_->mutex);
    run = std::exchange(state_->current, nullptr);
    if (!run) return false;
    run->over = true;
  }
  run->downloader->Abort();
  return true;
}

std::optional<DownloadRequest> DownloadJob::running() const {
  std::lock_guard lock(state_->mutex);
  if (!state_->current) return std::nullopt;
  return state_->request;
}

bool DownloadJob::Redirect(HWND window, bool report) {
  std::lock_guard lock(state_->mutex);
  if (!state_->current) return false;
  state_->window = window;
  state_->request.report = state_->request.report || report;
  state_->progress_posted = false;
  return true;
}

bool DownloadJob::busy() const {
  std::lock_guard lock(state_->mutex);
  return state_->current != nullptr;
}

DownloadProgressState DownloadJob::TakeProgress() {
  std::lock_guard lock(state_->mutex);
  state_->progress_posted = false;
  return state_->progress;
}

bool DownloadJob::TakeFinished(FinishedDownload* finished) {
  std::lock_guard lock(state_->mutex);
  if (state_->finished.empty()) return false;
  *finished = std::move(state_->finished.front());
  state_->finished.pop_front();
  return true;
}

std::unique_ptr<DownloadJob> MakeWinInetDownloadJob(uint32_t deadline_ms,
                                                   DownloadJob::MirrorList mirrors) {
  return std::make_unique<DownloadJob>(
      [] { return std::make_unique<WinInetUrlDownloader>(); }, std::make_shared<WinFileWriter>(),
      std::make_shared<WinClock>(), deadline_ms, std::move(mirrors), core::ListBodyProblem);
}

namespace {

// Whether a file can be created in `folder`: a program installed under
// Program Files runs without the right to write beside itself.
bool CanCreateFileIn(std::string_view folder) {
  std::wstring probe = Utf8ToWide(folder);
  if (probe.empty()) return false;
  if (probe.back() != L'\\' && probe.back() != L'/') probe += L'\\';
  probe += L"Relaymoth-write-test-" + std::to_wstring(GetCurrentProcessId()) + L".tmp";
  // Deleted again when the handle closes, on return.
  UniqueFileHandle file(CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  return file.valid();
}

}  // namespace

std::string DownloadTargetPath(std::string_view program_folder, std::string_view local_app_data) {
  bool in_program_folder = true;
  std::string path = core::DownloadFilePath(program_folder, local_app_data,
                                            [&](std::string_view folder) {
                                              in_program_folder = CanCreateFileIn(folder);
                                              return in_program_folder;
                                            });
  if (!in_program_folder) {
    std::wstring folder = Utf8ToWide(path);
    folder.resize(folder.find_last_of(L"\\/"));
    CreateDirectoryW(folder.c_str(), nullptr);  // already there is fine
  }
  return path;
}

std::string DownloadTargetPath() {
  wchar_t local[MAX_PATH] = {};
  std::string local_app_data;
  if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0,
                                 local))) {
    local_app_data = WideToUtf8(local);
  }
  return DownloadTargetPath(WideToUtf8(GetModuleFolder()), local_app_data);
}

}  // namespace win
