#include "win/app/list_imports.h"

#include <filesystem>
#include <utility>

#include "core/base/file_path.h"
#include "win/platform/app_messages.h"

namespace win {
namespace {

// wParam of WM_LIST_IMPORT_READ: who posted it.
constexpr WPARAM kWorkerRead = 0;
constexpr WPARAM kRunEnded = 1;

}  // namespace

ListImports::ListImports(Switcher& switcher, const AppPlatform& platform, LocateRows locate_rows)
    : switcher_(switcher),
      platform_(platform),
      locate_rows_(std::move(locate_rows)),
      window_([this](UINT msg, WPARAM wparam, LPARAM lparam) {
        return OnMessage(msg, wparam, lparam);
      }) {
  CreateMessageWindow(window_, L"RelaymothListImports");
  switcher_.events().Add(this);
}

ListImports::~ListImports() {
  switcher_.events().Remove(this);
  // The worker reads into a list the queue owns: it must be done before the
  // queue goes. Its report then finds no window.
  if (worker_.joinable()) worker_.join();
}

bool ListImports::IsLarge(const std::string& path) {
  std::error_code ec;
  uintmax_t size = std::filesystem::file_size(core::PathFromUtf8(path), ec);
  return !ec && size >= core::kStagedImportBytes;
}

void ListImports::Import(Request request) {
  if (!IsLarge(request.path) || window_.hwnd() == nullptr) {
    core::ImportSummary summary =
        core::ImportListFile(request.path, switcher_.list(), request.keep, request.favorite,
                             *platform_.codec, request.origin);
    if (request.done) request.done(summary);
    return;
  }
  auto job = std::make_unique<Job>();
  job->request = std::move(request);
  queue_.push_back(std::move(job));
  if (queue_.size() == 1) {
    StartNext();
    TellCaption();
  }
}

void ListImports::StartNext() {
  if (queue_.empty()) return;
  Job* job = queue_.front().get();
  if (locate_rows_) locate_rows_(job->staged);
  HWND window = window_.hwnd();
  const core::AnsiCodec* codec = platform_.codec;
  worker_ = std::thread([job, window, codec] {
    const Request& r = job->request;
    job->summary = core::ImportListFile(r.path, job->staged, r.keep, r.favorite, *codec, r.origin);
    PostMessageW(window, WM_LIST_IMPORT_READ, kWorkerRead, 0);
  });
}

bool ListImports::OnMessage(UINT msg, WPARAM wparam, LPARAM) {
  if (msg != WM_LIST_IMPORT_READ) return false;
  if (wparam == kWorkerRead) {
    if (worker_.joinable()) worker_.join();
    if (!queue_.empty()) queue_.front()->read = true;
  }
  FinishRead();
  return true;
}

void ListImports::FinishRead() {
  if (verifying_ || queue_.empty() || !queue_.front()->read) return;
  std::unique_ptr<Job> job = std::move(queue_.front());
  queue_.pop_front();
  core::ImportSummary summary = core::FinishStagedImport(std::move(job->summary), job->staged,
                                                         switcher_.list(), job->request.keep);
  StartNext();
  TellCaption();
  if (job->request.done) job->request.done(summary);
}

void ListImports::TellCaption() {
  switcher_.events().Tell([](AppObserver& o) { o.OnCaptionChanged(); });
}

void ListImports::OnVerifyRunControls(bool running) {
  verifying_ = running;
  // Told as the run ends, before its end-of-run rules: the rows come after.
  if (!running && busy()) PostMessageW(window_.hwnd(), WM_LIST_IMPORT_READ, kRunEnded, 0);
}

}  // namespace win
