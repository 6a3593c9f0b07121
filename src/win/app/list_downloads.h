// ListDownloads: the list download as a feature of its own: the download
// settings in force, the job (one download at a time, on a thread of its own),
// the silent download at start-up and every N hours, and the end of every download, which imports
// "Download.txt" into the list as the settings say. A download the user starts is shown by the
// progress window, which hands its end here. A download that ends while a
// verification runs is imported when the run has ended (ListImports holds every
// such change back). Built by the composition root; UI thread only.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "core/download/download_schedule.h"
#include "core/download/download_settings.h"
#include "win/app/app_events.h"
#include "win/app/app_platform.h"
#include "win/app/download_job.h"
#include "win/app/list_imports.h"
#include "win/app/switcher.h"
#include "win/platform/dispatcher.h"

namespace win {

class ListDownloads final : public DownloadWatcher {
 public:
  // Loads the download settings. `path` is where "Download.txt" goes.
  // A large download is imported through `imports`, away from the UI thread.
  ListDownloads(Switcher& switcher, const AppPlatform& platform, ListImports& imports,
                std::unique_ptr<DownloadJob> job, std::string path);
  ~ListDownloads() override;
  ListDownloads(const ListDownloads&) = delete;
  ListDownloads& operator=(const ListDownloads&) = delete;

  // The start: the hourly timer, and the start-up download when it is set.
  void Start();
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

  // For tests: the hourly schedule's timer.
  const Timer& hour_timer() const { return hour_timer_; }

 private:
  // DownloadWatcher: automatic downloads show nothing.
  void OnDownloadProgress() override {}
  Poster download_poster() const override { return inbox_.poster(); }
  // Large lists go to the worker; the others are imported when the list is free.
  void Import(const FinishedDownload& finished);
  void ImportNow(const FinishedDownload& finished);

  Switcher& switcher_;
  const AppPlatform& platform_;
  ListImports& imports_;
  std::unique_ptr<DownloadJob> job_;
  std::string path_;
  core::DownloadSettings settings_;
  core::DownloadSchedule schedule_{settings_};
  Timer hour_timer_;
  Timer arm_timer_;  // the start-up download, once the program is up
  Inbox inbox_;
};

}  // namespace win
