// ListDownloads: the list download as a feature of its own: the download
// settings in force, the job (one download at a time, on a thread of its own),
// the silent download at start-up and every N hours on a message-only window of
// its own, and the end of every download, which imports "Download.txt" into the
// list as the settings say. A download the user starts is shown by the
// progress window, which hands its end here. A download that ends while a
// verification runs is imported when the run has ended (ListImports holds every
// such change back). Links ticked "短效IP" are fetched again every few seconds,
// one after another, each answer replacing its link's rows; rows whose expiry
// has passed are marked every second so that nothing uses them. Built by the
// composition root; UI thread only.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "core/download/download_schedule.h"
#include "core/download/download_settings.h"
#include "core/download/provider_answer.h"
#include "win/app/app_events.h"
#include "win/app/app_platform.h"
#include "win/app/download_job.h"
#include "win/app/list_imports.h"
#include "win/app/switcher.h"
#include "win/platform/message_window.h"

namespace win {

class ListDownloads final : public DownloadDoneHandler {
 public:
  // The hourly schedule and the start-up download's one-shot arming.
  static constexpr UINT_PTR kTimerHour = 1;
  static constexpr UINT_PTR kTimerArm = 2;
  // Every second: expired rows, and the short-lived links' refresh.
  static constexpr UINT_PTR kTimerSecond = 3;
  // A short-lived link's fetch gets this long, not the five minutes of a list.
  static constexpr uint32_t kRefreshDeadlineMs = 30000;

  // The moment answers are read at (the real clock; tests give their own).
  using AnswerClock = std::function<core::AnswerTime()>;

  // Loads the download settings. `path` is where "Download.txt" goes.
  // A large download is imported through `imports`, away from the UI thread.
  ListDownloads(Switcher& switcher, const AppPlatform& platform, ListImports& imports,
                std::unique_ptr<DownloadJob> job, std::string path,
                AnswerClock clock = RealAnswerTime);
  ~ListDownloads() override;
  ListDownloads(const ListDownloads&) = delete;
  ListDownloads& operator=(const ListDownloads&) = delete;

  // The start: the rows' links read back, the hourly and the seconds timers,
  // and the start-up download when it is set.
  void Start();
  // One second passed: marks the rows that expired; every refresh_seconds
  // queues each short-lived link and starts the first when no download runs.
  void OnSecond();
  // An automatic download of the configured list: silent; nothing happens
  // while a download runs.
  void StartAutomaticDownload();

  // The settings in force; the download settings dialog changes them.
  core::DownloadSettings& settings() { return settings_; }
  DownloadJob& job() { return *job_; }
  const std::string& path() const { return path_; }

  // A download's end: imports the file as the settings say and, for a
  // download the user started, says what happened; while a verification runs,
  // once it has ended.
  void OnDownloadDone(WPARAM result, LPARAM report) override;
  // A download's end waits for the verification to end.
  bool import_waiting() const { return imports_.holding(); }

  // For tests: the window of the timers and of the automatic downloads' reports.
  HWND window() const { return window_.hwnd(); }
  // The short-lived links waiting for their turn.
  const std::deque<std::string>& refresh_queue() const { return refresh_queue_; }
  // How long the last download's end kept the UI thread, in microseconds.
  int64_t last_done_us() const { return last_done_us_; }

  static core::AnswerTime RealAnswerTime();

 private:
  bool OnMessage(UINT msg, WPARAM wparam, LPARAM lparam);
  // Large lists go to the worker; the others are imported when the list is free.
  void Import(const FinishedDownload& finished);
  void ImportNow(const FinishedDownload& finished);
  // Starts the next queued short-lived link when no download runs.
  void NextRefresh();

  Switcher& switcher_;
  const AppPlatform& platform_;
  ListImports& imports_;
  std::unique_ptr<DownloadJob> job_;
  std::string path_;
  core::DownloadSettings settings_;
  core::DownloadSchedule schedule_{settings_};
  AnswerClock clock_;
  std::deque<std::string> refresh_queue_;
  int32_t seconds_ = 0;  // since the last refresh
  int64_t last_done_us_ = 0;
  MessageWindow window_;
};

}  // namespace win
