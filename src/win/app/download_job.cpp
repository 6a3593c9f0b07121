#include "win/app/download_job.h"

#include <shlobj.h>

#include <deque>
#include <mutex>
#include <utility>

#include "win/platform/unique_handle.h"
#include "win/platform/wide_text.h"
#include "win/platform/win_clock.h"
#include "win/platform/wininet_url_downloader.h"

namespace win {

// What the UI thread and the download's thread share. Every field is behind
// the mutex, which is never held across a network call or a post.
class DownloadJob::State {
 public:
  std::mutex mutex;
  bool running = false;
  bool abandoned = false;        // the job is gone: post nothing, commit nothing
  bool progress_posted = false;  // a WM_DOWNLOAD_PROGRESS waits to be taken
  HWND window = nullptr;
  DownloadRequest request;
  DownloadProgressState progress;
  std::shared_ptr<core::UrlDownloader> downloader;
  std::deque<FinishedDownload> finished;
};

namespace {

using State = DownloadJob::State;

// Hands the chunks' progress to the UI: the latest text and position are kept,
// and a post goes out only when the UI has taken the previous one, so a fast
// transfer cannot flood the UI thread's queue.
class ProgressRelay final : public core::DownloadProgress {
 public:
  explicit ProgressRelay(State& state) : state_(state) {}

  void OnText(std::string_view text) override {
    HWND post_to = nullptr;
    {
      std::lock_guard lock(state_.mutex);
      state_.progress.text = std::string(text);
      if (!state_.abandoned && !state_.progress_posted) {
        state_.progress_posted = true;
        post_to = state_.window;
      }
    }
    if (post_to != nullptr) PostMessageW(post_to, WM_DOWNLOAD_PROGRESS, 0, 0);
  }

  void OnPosition(int percent) override {
    std::lock_guard lock(state_.mutex);
    state_.progress.position = percent;
  }

 private:
  State& state_;
};

// A download the job has abandoned may still come to its end (Wine does not
// interrupt a call in progress when its handles are closed); it must not then
// put its file over one that a later download wrote.
class GuardedPendingFile final : public core::PendingFile {
 public:
  GuardedPendingFile(std::unique_ptr<core::PendingFile> file, std::shared_ptr<State> state)
      : file_(std::move(file)), state_(std::move(state)) {}

  bool Write(std::string_view bytes) override { return file_->Write(bytes); }
  bool Commit() override {
    {
      std::lock_guard lock(state_->mutex);
      if (state_->abandoned) return false;
    }
    return file_->Commit();
  }

 private:
  std::unique_ptr<core::PendingFile> file_;
  std::shared_ptr<State> state_;
};

class GuardedFileWriter final : public core::FileWriter {
 public:
  GuardedFileWriter(core::FileWriter& files, std::shared_ptr<State> state)
      : files_(files), state_(std::move(state)) {}

  std::unique_ptr<core::PendingFile> Begin(std::string_view path) override {
    std::unique_ptr<core::PendingFile> file = files_.Begin(path);
    if (!file) return nullptr;
    return std::make_unique<GuardedPendingFile>(std::move(file), state_);
  }

 private:
  core::FileWriter& files_;
  std::shared_ptr<State> state_;
};

// Everything the download's thread needs; it owns this and keeps the shared
// parts alive however long the transfer takes.
struct ThreadParams {
  std::shared_ptr<State> state;
  std::shared_ptr<core::UrlDownloader> downloader;
  std::shared_ptr<core::FileWriter> files;
  std::shared_ptr<core::Clock> clock;
  DownloadRequest request;
};

}  // namespace

DownloadJob::DownloadJob(DownloaderFactory downloaders, std::shared_ptr<core::FileWriter> files,
                         std::shared_ptr<core::Clock> clock)
    : downloaders_(std::move(downloaders)),
      files_(std::move(files)),
      clock_(std::move(clock)),
      state_(std::make_shared<State>()) {}

DownloadJob::~DownloadJob() {
  std::shared_ptr<core::UrlDownloader> downloader;
  {
    std::lock_guard lock(state_->mutex);
    state_->abandoned = true;
    downloader = state_->downloader;
  }
  if (downloader) downloader->Abort();
}

bool DownloadJob::Start(DownloadRequest request, HWND window) {
  std::shared_ptr<core::UrlDownloader> downloader = downloaders_();
  if (!downloader) return false;
  {
    std::lock_guard lock(state_->mutex);
    if (state_->running) return false;
    state_->running = true;
    state_->window = window;
    state_->request = request;
    state_->progress = DownloadProgressState{};
    state_->progress_posted = false;
    state_->downloader = downloader;
  }
  auto* params = new ThreadParams{state_, downloader, files_, clock_, std::move(request)};
  // The thread is never waited for: its handle is closed on return.
  UniqueKernelHandle thread(CreateThread(nullptr, 0, &DownloadJob::ThreadMain, params, 0, nullptr));
  if (!thread) {
    delete params;
    std::lock_guard lock(state_->mutex);
    state_->running = false;
    state_->downloader.reset();
    return false;
  }
  return true;
}

DWORD WINAPI DownloadJob::ThreadMain(void* param) {
  std::unique_ptr<ThreadParams> p(static_cast<ThreadParams*>(param));
  State& state = *p->state;
  ProgressRelay relay(state);
  GuardedFileWriter files(*p->files, p->state);
  core::DownloadOutcome outcome = core::DownloadFile(*p->downloader, files, *p->clock,
                                                     p->request.url, p->request.path, &relay);
  HWND post_to = nullptr;
  LPARAM report = 0;
  {
    std::lock_guard lock(state.mutex);
    state.running = false;
    state.downloader.reset();
    if (!state.abandoned) {
      // The request as it stands now: a user start may have taken it over.
      state.finished.push_back(FinishedDownload{state.request, outcome});
      post_to = state.window;
      report = state.request.report ? 1 : 0;
    }
  }
  if (post_to != nullptr &&
      !PostMessageW(post_to, WM_DOWNLOAD_DONE, WPARAM(outcome.result), report)) {
    // Nobody will take it: the window is gone.
    std::lock_guard lock(state.mutex);
    if (!state.finished.empty()) state.finished.pop_back();
  }
  return 0;
}

bool DownloadJob::Redirect(HWND window, bool report) {
  std::lock_guard lock(state_->mutex);
  if (!state_->running) return false;
  state_->window = window;
  state_->request.report = state_->request.report || report;
  state_->progress_posted = false;
  return true;
}

bool DownloadJob::busy() const {
  std::lock_guard lock(state_->mutex);
  return state_->running;
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

std::unique_ptr<DownloadJob> MakeWinInetDownloadJob() {
  return std::make_unique<DownloadJob>(
      [] { return std::make_unique<WinInetUrlDownloader>(); },
      std::make_shared<core::DiskFileWriter>(), std::make_shared<WinClock>());
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
