#include "core/verify/verify_testing.h"

namespace core {
namespace {

class ScriptedRequest final : public HttpRequest {
 public:
  ScriptedRequest(ScriptedFetcher& fetcher, ManualClock& clock, SiteScript script)
      : fetcher_(fetcher), clock_(clock), script_(std::move(script)) {}

  TransferResult SendAndRead(const std::function<bool(std::string_view)>& sink) override {
    clock_.Advance(script_.takes_ms);
    if (fetcher_.aborted) return TransferResult::kFailed;
    for (size_t r = 0; r < script_.repeat_pieces; ++r) {
      for (const std::string& piece : script_.pieces) {
        fetcher_.bytes_delivered += piece.size();
        if (!sink(piece)) return TransferResult::kComplete;
      }
    }
    return script_.transfer;
  }
  std::optional<ProxyFailure> proxy_failure() override { return fetcher_.proxy_failure; }

 private:
  ScriptedFetcher& fetcher_;
  ManualClock& clock_;
  SiteScript script_;
};

class ScriptedFtp final : public FtpSession {
 public:
  ScriptedFtp(ScriptedFetcher& fetcher, ManualClock& clock) : fetcher_(fetcher), clock_(clock) {}

  FtpLoginResult Login(const SiteRequest& request) override {
    fetcher_.ftp_logins.push_back(request);
    auto it = fetcher_.scripts.find(request.host);
    if (it == fetcher_.scripts.end()) return FtpLoginResult::kFailed;
    clock_.Advance(it->second.takes_ms);
    return it->second.login;
  }

 private:
  ScriptedFetcher& fetcher_;
  ManualClock& clock_;
};

}  // namespace

std::unique_ptr<HttpRequest> ScriptedFetcher::OpenHttp(const SiteRequest& request) {
  http_requests.push_back(request);
  auto it = scripts.find(request.host);
  if (aborted || it == scripts.end() || it->second.open_fails) return nullptr;
  return std::make_unique<ScriptedRequest>(*this, clock_, it->second);
}

std::unique_ptr<FtpSession> ScriptedFetcher::OpenFtp(std::string_view proxy) {
  ftp_proxies.emplace_back(proxy);
  if (aborted || ftp_session_fails) return nullptr;
  return std::make_unique<ScriptedFtp>(*this, clock_);
}

std::optional<DetectionOutcome> ScriptedFetcher::DetectProtocol(const UpstreamProxy& proxy,
                                                                const NetTarget& target) {
  detections.emplace_back(proxy, target);
  std::array<HandshakeAttempt, kDetectionLanes> lanes;
  for (size_t i = 0; i < lanes.size(); ++i) {
    auto it = handshakes.find(kDetectionOrder[i]);
    lanes[i] = it != handshakes.end()
                   ? it->second
                   : HandshakeAttempt{HandshakeState::kFailed, ProxyFailure::kBadReply};
  }
  return DetectionOutcomeOf(lanes);
}

}  // namespace core
