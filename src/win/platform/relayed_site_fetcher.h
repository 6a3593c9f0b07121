// RelayedSiteFetcher: the verification's SiteFetcher for rows whose protocol
// WinInet cannot speak. A request that names its proxy's own protocol
// (SiteRequest::own_protocol) goes to a port of the relay engine opened for
// that proxy alone, for the request's life, as to a plain HTTP proxy; every
// other request, and every FTP session, goes to the inner fetcher as it is.
// Handshakes for detecting a row's protocol run on sockets of their own
// (RaceProxyHandshakes). One per worker thread, like the inner fetcher; the
// engine is shared by all.
#pragma once

#include <atomic>
#include <memory>
#include <string_view>

#include "core/verify/site_fetcher.h"
#include "win/platform/relay_engine.h"
#include "win/platform/unique_socket.h"

namespace win {

class RelayedSiteFetcher final : public core::SiteFetcher {
 public:
  // `engine` (started) may be null: requests in the proxy's own protocol then
  // fail to open.
  RelayedSiteFetcher(std::unique_ptr<core::SiteFetcher> inner, std::shared_ptr<RelayEngine> engine)
      : inner_(std::move(inner)), engine_(std::move(engine)) {}

  std::unique_ptr<core::HttpRequest> OpenHttp(const core::SiteRequest& request) override;
  std::unique_ptr<core::FtpSession> OpenFtp(std::string_view proxy) override {
    return inner_->OpenFtp(proxy);
  }
  std::optional<core::DetectionOutcome> DetectProtocol(const core::UpstreamProxy& proxy,
                                                       const core::NetTarget& target) override;
  void Abort() override {
    aborted_ = true;
    if (abort_event_) SetEvent(abort_event_.get());
    inner_->Abort();
  }

 private:
  std::unique_ptr<core::SiteFetcher> inner_;
  std::shared_ptr<RelayEngine> engine_;
  std::atomic<bool> aborted_{false};
  // Set with aborted_: ends a detection's wait at once.
  UniqueKernelHandle abort_event_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

}  // namespace win
