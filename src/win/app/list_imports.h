// ListImports: list files and dropped texts too large to read on the
// user-interface thread (from core::kStagedImportBytes on). A worker thread
// reads, parses, searches and locates them into a list of its own; back on the
// UI thread its rows move into the program's list in one step and the summary
// is told. One at a time, later ones in turn; while a verification runs the
// rows wait for its end, as its results belong to the rows it is testing. The
// program's list is only ever changed on the UI thread. Built by the
// composition root; UI thread only (the worker touches nothing but its own list).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "core/proxylist/drop_intake.h"
#include "core/proxylist/list_file.h"
#include "core/proxylist/proxy_list.h"
#include "win/app/app_events.h"
#include "win/app/app_platform.h"
#include "win/app/switcher.h"
#include "win/platform/dispatcher.h"

namespace win {

// The caption note while the worker reads a dropped text; a file's says how far
// it got: "(正在导入列表文件...45%)".
inline constexpr std::string_view kImportingDropNote = "(正在导入拖动进来的文字...)";

class ListImports final : private AppObserver {
 public:
  // Gives a list filled on the worker a locator of its own (the program's
  // location database is the UI thread's); may be empty.
  using LocateRows = std::function<void(core::ProxyList& staged)>;
  // Told on the UI thread with the import's summary.
  using Done = std::function<void(const core::ImportSummary& summary)>;
  using DropDone = std::function<void(const core::DropSummary& summary)>;

  struct Request {
    std::string path;  // UTF-8
    bool keep = true;
    bool favorite = false;
    core::LineOrigin origin = core::LineOrigin::kUser;
    std::string untyped_as;  // the type of lines without one (see core::ImportListFile)
    Done done;               // may be empty
  };

  // Work for the worker: `read` fills `staged` there; `finish` moves its rows
  // into the program's list on the UI thread and tells the user.
  struct Staged {
    std::function<void(core::ProxyList& staged)> read;
    std::function<void(core::ProxyList& staged)> finish;
    // How far `read` got, of `total` (both 0: not known).
    std::shared_ptr<std::atomic<uint64_t>> done;
    uint64_t total = 0;
  };
  // The caption's progress tick while the worker reads.
  static constexpr UINT kProgressMs = 250;

  ListImports(Switcher& switcher, const AppPlatform& platform, LocateRows locate_rows);
  ~ListImports() override;  // stops a file being read and waits for the worker
  ListImports(const ListImports&) = delete;
  ListImports& operator=(const ListImports&) = delete;

  // Whether `path` is large enough to be read on the worker.
  static bool IsLarge(const std::string& path);

  // A small file is imported at once (`done` is told before this returns); a
  // large one in turn on the worker.
  void Import(Request request);

  // Dropped text (core::AddDroppedText), in turn on the worker.
  void AddDropped(std::string text, DropDone done);

  // A change of the program's list that must not happen under a running
  // verification: made now, or once the run has ended (after its end-of-run
  // rules), in the order asked.
  void WhenListFree(std::function<void()> change);
  // Changes held back for a verification's end.
  bool holding() const { return !held_.empty(); }

  // Queues work for the worker.
  void Start(Staged work);

  // Imports queued, reading or waiting for a verification to end.
  bool busy() const { return !queue_.empty(); }
  // A caption note while busy (the percentage as of the last progress tick),
  // otherwise "".
  std::string CaptionNote() const;

  // The next file is read and its rows wait for a verification to end.
  bool waiting_for_run() const { return verifying_ && !queue_.empty() && queue_.front()->read; }

 private:
  struct Job {
    Staged work;
    core::ProxyList staged;
    bool read = false;  // the worker is done with it
  };

  // False when nothing can reach this thread from the worker: then the work
  // is done here.
  static bool CanPost();
  void OnProgressTick();
  void OnWorkerRead();
  int Percent() const;
  void StartNext();
  void FinishRead();
  void MakeHeldChanges();
  void TellCaption();

  // AppObserver: a verification started or ended.
  void OnVerifyRunControls(bool running) override;

  Switcher& switcher_;
  const AppPlatform& platform_;
  LocateRows locate_rows_;
  Timer progress_timer_;
  std::deque<std::unique_ptr<Job>> queue_;  // the front one is on the worker or read
  std::thread worker_;
  // Set as the program ends: a file being read ends where it is.
  std::shared_ptr<std::atomic<bool>> stop_ = std::make_shared<std::atomic<bool>>(false);
  bool verifying_ = false;
  std::deque<std::function<void()>> held_;  // see WhenListFree
  int shown_percent_ = 0;
  Inbox inbox_;
};

}  // namespace win
