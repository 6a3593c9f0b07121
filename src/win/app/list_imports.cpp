#include "win/app/list_imports.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <istream>
#include <memory>
#include <utility>

#include "core/base/counting_streambuf.h"
#include "core/base/file_path.h"
#include "core/base/text.h"

namespace win {
ListImports::ListImports(Switcher& switcher, const AppPlatform& platform, LocateRows locate_rows)
    : switcher_(switcher), platform_(platform), locate_rows_(std::move(locate_rows)) {
  switcher_.events().Add(this);
}

ListImports::~ListImports() {
  switcher_.events().Remove(this);
  // The worker reads into a list the queue owns: it must be done before the
  // queue goes. Its report then finds no inbox.
  stop_->store(true);
  if (worker_.joinable()) worker_.join();
}

bool ListImports::IsLarge(const std::string& path) {
  std::error_code ec;
  uintmax_t size = std::filesystem::file_size(core::PathFromUtf8(path), ec);
  return !ec && size >= core::kStagedImportBytes;
}

bool ListImports::CanPost() { return Dispatcher::ForThisThread().hwnd() != nullptr; }

void ListImports::Import(Request request) {
  if (!IsLarge(request.path) || !CanPost()) {
    core::ImportSummary summary =
        core::ImportListFile(request.path, switcher_.list(), request.keep, request.favorite,
                             *platform_.codec, request.origin, request.untyped_as);
    if (request.done) request.done(summary);
    return;
  }
  auto summary = std::make_shared<core::ImportSummary>();
  auto done = std::make_shared<std::atomic<uint64_t>>(0);
  const core::AnsiCodec* codec = platform_.codec;
  Switcher& switcher = switcher_;
  std::error_code ec;
  uint64_t size = std::filesystem::file_size(core::PathFromUtf8(request.path), ec);
  Start({[request, summary, codec, done, stop = stop_](core::ProxyList& staged) {
           std::ifstream file(core::PathFromUtf8(request.path), std::ios::binary);
           if (!file) {
             *summary = core::ImportListFile(request.path, staged, request.keep, request.favorite,
                                             *codec, request.origin, request.untyped_as);
             return;
           }
           // The file is read twice: once to tell its encoding, once for the rows.
           core::CountingStreamBuf counting(file.rdbuf(), done.get(), stop.get());
           std::istream in(&counting);
           *summary = core::ImportListStream(in, request.path, staged, request.keep,
                                             request.favorite, *codec, request.origin,
                                             request.untyped_as);
         },
         [request, summary, &switcher](core::ProxyList& staged) {
           core::ImportSummary s =
               core::FinishStagedImport(std::move(*summary), staged, switcher.list(), request.keep);
           if (request.done) request.done(s);
         },
         done, ec ? 0 : 2 * size});
}

void ListImports::AddDropped(std::string text, DropDone done) {
  if (!CanPost()) {
    core::DropSummary summary = core::AddDroppedText(switcher_.list(), text);
    if (done) done(summary);
    return;
  }
  auto summary = std::make_shared<core::DropSummary>();
  auto shared_text = std::make_shared<std::string>(std::move(text));
  Switcher& switcher = switcher_;
  Start({[shared_text, summary](core::ProxyList& staged) {
           *summary = core::AddDroppedText(staged, *shared_text);
           std::string().swap(*shared_text);
         },
         [summary, done, &switcher](core::ProxyList& staged) {
           core::DropSummary s =
               core::FinishStagedDrop(std::move(*summary), staged, switcher.list());
           if (done) done(s);
         },
         nullptr, 0});
}

void ListImports::WhenListFree(std::function<void()> change) {
  if (!verifying_ || !CanPost()) {
    change();
    return;
  }
  held_.push_back(std::move(change));
}

void ListImports::MakeHeldChanges() {
  // A new run that began meanwhile holds them on.
  while (!verifying_ && !held_.empty()) {
    std::function<void()> change = std::move(held_.front());
    held_.pop_front();
    change();
  }
}

void ListImports::Start(Staged work) {
  auto job = std::make_unique<Job>();
  job->work = std::move(work);
  queue_.push_back(std::move(job));
  if (queue_.size() == 1) {
    StartNext();
    progress_timer_.Start(kProgressMs, [this] { OnProgressTick(); });
    TellCaption();
  }
}

int ListImports::Percent() const {
  if (queue_.empty() || queue_.front()->work.total == 0) return 0;
  const Staged& w = queue_.front()->work;
  uint64_t done = w.done ? w.done->load(std::memory_order_relaxed) : 0;
  return int(std::min<uint64_t>(99, done * 100 / w.total));
}

std::string ListImports::CaptionNote() const {
  if (!busy()) return {};
  if (queue_.front()->work.total == 0) return std::string(kImportingDropNote);
  return core::Format("(正在导入列表文件...%d%%)", shown_percent_);
}

void ListImports::StartNext() {
  if (queue_.empty()) return;
  Job* job = queue_.front().get();
  if (locate_rows_) locate_rows_(job->staged);
  worker_ = std::thread([this, job, report = inbox_.poster()] {
    job->work.read(job->staged);
    report.Post([this] { OnWorkerRead(); });
  });
}

void ListImports::OnProgressTick() {
  if (int percent = Percent(); percent != shown_percent_) {
    shown_percent_ = percent;
    TellCaption();
  }
}

void ListImports::OnWorkerRead() {
  if (worker_.joinable()) worker_.join();
  if (!queue_.empty()) queue_.front()->read = true;
  FinishRead();
}

void ListImports::FinishRead() {
  if (verifying_ || queue_.empty() || !queue_.front()->read) return;
  std::unique_ptr<Job> job = std::move(queue_.front());
  queue_.pop_front();
  shown_percent_ = 0;
  if (queue_.empty()) progress_timer_.Stop();
  StartNext();
  // The caption is right before the summary's message box waits for the user.
  TellCaption();
  job->work.finish(job->staged);
}

void ListImports::TellCaption() {
  switcher_.events().Tell([](AppObserver& o) { o.OnCaptionChanged(); });
}

void ListImports::OnVerifyRunControls(bool running) {
  verifying_ = running;
  // Told as the run ends, before its end-of-run rules: the rows come after.
  if (!running && (busy() || holding())) {
    inbox_.Post([this] {
      MakeHeldChanges();
      FinishRead();
    });
  }
}

}  // namespace win
