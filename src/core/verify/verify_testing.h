// Test doubles for the verify seams: a manual clock, a scripted site fetcher
// that answers by host name and records what it was asked, and an observer that
// ignores a run's reports. Test code only.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "core/verify/site_fetcher.h"
#include "core/verify/verify_run.h"

namespace core {

// A run's observer for tests that look only at the outcomes.
class QuietObserver final : public RunObserver {
 public:
  void OnProgress(std::string_view) override {}
  void OnSiteDone(int, const SiteOutcome&) override {}
};

class ManualClock final : public Clock {
 public:
  explicit ManualClock(uint32_t start = 0) : now_(start) {}
  uint32_t NowMs() override { return now_; }
  void Advance(uint32_t ms) { now_ += ms; }  // wraps like the real tick count

 private:
  uint32_t now_;
};

// What the fetcher does for one host.
struct SiteScript {
  bool open_fails = false;          // HTTP: no request object; FTP: no session
  std::vector<std::string> pieces;  // HTTP page, piece by piece
  TransferResult transfer = TransferResult::kComplete;
  FtpLoginResult login = FtpLoginResult::kLoggedIn;
  uint32_t takes_ms = 0;     // the clock moves on by this during the transfer
  size_t repeat_pieces = 1;  // the pieces are sent this many times over
};

class ScriptedFetcher final : public SiteFetcher {
 public:
  explicit ScriptedFetcher(ManualClock& clock) : clock_(clock) {}

  std::map<std::string, SiteScript> scripts;  // by host; unknown hosts fail to open
  std::vector<SiteRequest> http_requests;     // every OpenHttp, in order
  std::vector<std::string> ftp_proxies;       // every OpenFtp
  std::vector<SiteRequest> ftp_logins;        // every Login
  size_t bytes_delivered = 0;                 // pieces the sink accepted or saw
  bool aborted = false;
  bool ftp_session_fails = false;  // OpenFtp gives no session
  // How the proxy answers a handshake in each protocol; a protocol not named
  // gets a reply of another protocol (kBadReply).
  std::map<ProxyProtocol, HandshakeAttempt> handshakes;
  std::vector<std::pair<UpstreamProxy, NetTarget>> detections;  // every DetectProtocol
  // What every request's proxy_failure() says.
  std::optional<ProxyFailure> proxy_failure;

  std::unique_ptr<HttpRequest> OpenHttp(const SiteRequest& request) override;
  std::unique_ptr<FtpSession> OpenFtp(std::string_view proxy) override;
  void Abort() override { aborted = true; }
  std::optional<DetectionOutcome> DetectProtocol(const UpstreamProxy& proxy,
                                                 const NetTarget& target) override;

 private:
  ManualClock& clock_;
};

}  // namespace core
