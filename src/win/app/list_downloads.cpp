#include "win/app/list_downloads.h"

#include <algorithm>
#include <ctime>
#include <optional>
#include <utility>

#include "core/download/download_done.h"
#include "core/download/list_sources.h"
#include "core/download/source_rows.h"

namespace win {

ListDownloads::ListDownloads(Switcher& switcher, const AppPlatform& platform, ListImports& imports,
                             std::unique_ptr<DownloadJob> job, std::string path, AnswerClock clock)
    : switcher_(switcher),
      platform_(platform),
      imports_(imports),
      job_(std::move(job)),
      path_(std::move(path)),
      clock_(std::move(clock)) {
  core::LoadDownloadSettings(*platform_.profile, &settings_);
}

ListDownloads::~ListDownloads() = default;

core::AnswerTime ListDownloads::RealAnswerTime() {
  std::time_t now = std::time(nullptr);
  // Local time is ahead of UTC by what mktime, reading UTC's fields as local
  // ones, falls short of now.
  std::tm utc = *std::gmtime(&now);
  utc.tm_isdst = -1;
  return {int64_t(now), int32_t(now - std::mktime(&utc))};
}

void ListDownloads::Start() {
  core::LoadSourceRows(switcher_.list(), *platform_.profile);
  hour_timer_.Start(core::kDownloadHourMs, [this] {
    if (schedule_.OnHourTick()) StartAutomaticDownload();
  });
  second_timer_.Start(1000, [this] { OnSecond(); });
  // The start-up download comes once the program is up and showing.
  if (schedule_.OnStartup()) {
    arm_timer_.StartOnce(core::kDownloadArmDelayMs, [this] { StartAutomaticDownload(); });
  }
}

void ListDownloads::StartAutomaticDownload() {
  // Refused silently while a download (the user's or an earlier one) runs.
  job_->Start({settings_.url, path_, false}, this);
}

void ListDownloads::OnSecond() {
  core::ProxyList& list = switcher_.list();
  if (list.MarkExpiredRows(clock_().now_unix) > 0) {
    // The row in use has just expired: its address is gone, so automatic
    // switching moves on now rather than at its next turn.
    core::RowId in_use = switcher_.in_use().row;
    std::optional<size_t> at = list.IndexOf(in_use);
    if (at && list.RowExpired(*at)) {
      switcher_.ReportFailure({in_use, core::FailureSource::kExpired, "已过期"});
    }
  }
  if (settings_.short_lived.empty()) {
    seconds_ = 0;
    return;
  }
  if (++seconds_ < settings_.refresh_seconds) {
    NextRefresh();  // a link that waited for a download or an import to end
    return;
  }
  seconds_ = 0;
  for (const std::string& url : settings_.short_lived) {
    // A link still waiting from the last round is not fetched twice.
    if (std::find(refresh_queue_.begin(), refresh_queue_.end(), url) == refresh_queue_.end()) {
      refresh_queue_.push_back(url);
    }
  }
  NextRefresh();
}

void ListDownloads::NextRefresh() {
  // Every download writes the same file: not while one waits to be imported.
  if (job_->busy() || imports_.holding()) return;
  while (!refresh_queue_.empty()) {
    std::string url = std::move(refresh_queue_.front());
    refresh_queue_.pop_front();
    // Unticked while it waited: its answer would be imported as a whole list.
    if (!settings_.IsShortLived(url)) continue;
    job_->Start({url, path_, false, kRefreshDeadlineMs}, this);
    return;
  }
}

void ListDownloads::OnDownloadDone(WPARAM result, LPARAM report) {
  FinishedDownload finished;
  if (!job_->TakeFinished(&finished)) {
    // Not the job's own report: only the code and the flag are known.
    finished.request = {settings_.url, path_, report != 0};
    finished.outcome.result = int(result);
  }
  Import(finished);
  NextRefresh();
}

void ListDownloads::Import(const FinishedDownload& finished) {
  // A short-lived link's answer replaces rows in place: never the staged way.
  if (finished.outcome.result == core::kDownloadOk && ListImports::IsLarge(finished.request.path) &&
      !settings_.IsShortLived(finished.request.url)) {
    // A downloaded list is not the user's: it cannot make a row reserved; a
    // SOCKS source's bare lines are SOCKS proxies.
    bool report = finished.request.report;
    Switcher& switcher = switcher_;
    imports_.Import({finished.request.path, settings_.keep_existing, settings_.add_as_favorite,
                     core::LineOrigin::kOutside,
                     std::string(core::ListSourceType(finished.request.url)),
                     [report, &switcher](const core::ImportSummary& s) {
                       if (!report) return;
                       UINT icon = s.ok ? MB_ICONINFORMATION : MB_ICONWARNING;
                       switcher.Ask(s.message, s.caption, MB_OK | icon);
                     }});
    return;
  }
  // The list is changed when no verification runs.
  imports_.WhenListFree([this, finished] { ImportNow(finished); });
}

void ListDownloads::ImportNow(const FinishedDownload& finished) {
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  core::DownloadDoneAction action = core::HandleDownloadDone(
      finished.outcome, finished.request.report, finished.request.url, finished.request.path,
      settings_, switcher_.list(), *platform_.codec, clock_());
  // Which rows came from which link outlives the run; a refused write costs
  // only that knowledge after a restart.
  if (action.sources_changed) {
    core::SaveSourceRows(switcher_.list(), *platform_.profile, [this](std::string_view url) {
      return settings_.IsShortLived(url);
    }).Ignore();
  }
  QueryPerformanceCounter(&end);
  last_done_us_ = (end.QuadPart - start.QuadPart) * 1'000'000 / frequency.QuadPart;
  if (!action.message.empty()) {
    UINT icon = action.imported && action.import.ok ? MB_ICONINFORMATION : MB_ICONWARNING;
    switcher_.Ask(action.message, action.caption, MB_OK | icon);
  }
}

}  // namespace win
