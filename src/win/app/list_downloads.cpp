#include "win/app/list_downloads.h"

#include <utility>

#include "core/download/download_done.h"
#include "core/download/list_sources.h"

namespace win {

ListDownloads::ListDownloads(Switcher& switcher, const AppPlatform& platform, ListImports& imports,
                             std::unique_ptr<DownloadJob> job, std::string path)
    : switcher_(switcher),
      platform_(platform),
      imports_(imports),
      job_(std::move(job)),
      path_(std::move(path)) {
  core::LoadDownloadSettings(*platform_.profile, &settings_);
}

ListDownloads::~ListDownloads() = default;

void ListDownloads::Start() {
  hour_timer_.Start(core::kDownloadHourMs, [this] {
    if (schedule_.OnHourTick()) StartAutomaticDownload();
  });
  // The start-up download comes once the program is up and showing.
  if (schedule_.OnStartup()) {
    arm_timer_.StartOnce(core::kDownloadArmDelayMs, [this] { StartAutomaticDownload(); });
  }
}

void ListDownloads::StartAutomaticDownload() {
  // Refused silently while a download (the user's or an earlier one) runs.
  job_->Start({settings_.url, path_, false}, this);
}

void ListDownloads::OnDownloadDone(WPARAM result, LPARAM report) {
  FinishedDownload finished;
  if (!job_->TakeFinished(&finished)) {
    // Not the job's own report: only the code and the flag are known.
    finished.request = {settings_.url, path_, report != 0};
    finished.outcome.result = int(result);
  }
  Import(finished);
}

void ListDownloads::Import(const FinishedDownload& finished) {
  if (finished.outcome.result == core::kDownloadOk && ListImports::IsLarge(finished.request.path)) {
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
  core::DownloadDoneAction action =
      core::HandleDownloadDone(finished.outcome, finished.request.report, finished.request.url,
                               finished.request.path,
                               settings_, switcher_.list(), *platform_.codec);
  if (!action.message.empty()) {
    UINT icon = action.imported && action.import.ok ? MB_ICONINFORMATION : MB_ICONWARNING;
    switcher_.Ask(action.message, action.caption, MB_OK | icon);
  }
}

}  // namespace win
