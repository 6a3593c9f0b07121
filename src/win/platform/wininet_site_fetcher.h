// WinInetSiteFetcher: the verify workers' SiteFetcher on WinInet. Every site test
// gets a fresh session with the verify user agent, the proxy given explicitly
// (INTERNET_OPEN_TYPE_PROXY) and the verify time-outs; no cookies, log-ins or
// redirects. One fetcher belongs to one worker thread; Abort may be called from
// any thread (the UI thread abandoning the worker) and never blocks on it.
#pragma once

#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "core/verify/site_fetcher.h"

namespace win {

class InternetHandleList;

class WinInetSiteFetcher final : public core::SiteFetcher {
 public:
  WinInetSiteFetcher();
  ~WinInetSiteFetcher() override;
  WinInetSiteFetcher(const WinInetSiteFetcher&) = delete;
  WinInetSiteFetcher& operator=(const WinInetSiteFetcher&) = delete;

  std::unique_ptr<core::HttpRequest> OpenHttp(const core::SiteRequest& request) override;
  std::unique_ptr<core::FtpSession> OpenFtp(std::string_view proxy) override;
  void Abort() override;

  // Raises WinInet's process-wide limit of connections per server (2 by default,
  // which would queue every worker behind two others on one proxy). Done once by
  // the first fetcher; harmless to call again.
  static void RaiseConnectionLimits();

 private:
  // The handles it opens, shared with what it hands out (requests, sessions).
  std::shared_ptr<InternetHandleList> handles_;
};

}  // namespace win
