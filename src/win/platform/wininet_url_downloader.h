// WinInetUrlDownloader: the list download's UrlDownloader on WinInet. Each
// session connects directly (never through the system proxy this program sets),
// names itself "Agent<tick count>" and opens HTTP, HTTPS and FTP URLs with every
// cache bypassed. One downloader serves one download on the thread running it;
// Abort may be called from any thread and never waits for that thread.
#pragma once

#include <memory>

#include "core/download/url_downloader.h"

namespace win {

class InternetHandleList;

class WinInetUrlDownloader final : public core::UrlDownloader {
 public:
  WinInetUrlDownloader();
  ~WinInetUrlDownloader() override;
  WinInetUrlDownloader(const WinInetUrlDownloader&) = delete;
  WinInetUrlDownloader& operator=(const WinInetUrlDownloader&) = delete;

  // kModemBusy when the connection state reports a busy modem (nothing is
  // opened then); kNoInternet when WinInet gives no session, or after Abort.
  std::unique_ptr<core::UrlSession> OpenSession(core::SessionFailure* failure) override;
  // Closes every handle this downloader has open and refuses new ones. A read
  // in progress returns a failure as soon as WinInet lets go of it (under Wine
  // only when its current piece of data has arrived).
  void Abort() override;

 private:
  // The handles it opens, shared with what it hands out (requests, sessions).
  std::shared_ptr<InternetHandleList> handles_;
};

}  // namespace win
