#include "win/platform/relayed_site_fetcher.h"

#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "win/platform/handshake_probe.h"

namespace win {
namespace {

// What the relay reported of the port's one client: why its proxy failed it.
struct PortReport {
  std::mutex lock;
  std::optional<core::ProxyFailure> failure;
};

// The inner request with the port bound to its proxy, closed after it.
class PortBoundRequest final : public core::HttpRequest {
 public:
  PortBoundRequest(std::unique_ptr<core::HttpRequest> inner, std::shared_ptr<RelayEngine> engine,
                   uint16_t port, std::shared_ptr<PortReport> report)
      : inner_(std::move(inner)),
        engine_(std::move(engine)),
        port_(port),
        report_(std::move(report)) {}
  ~PortBoundRequest() override {
    inner_.reset();
    engine_->CloseListener(port_);
  }
  core::TransferResult SendAndRead(const std::function<bool(std::string_view)>& sink) override {
    return inner_->SendAndRead(sink);
  }
  // The relay reports a connection that ended early before it sends the client
  // its last reply, so the report is in by the time the page has been read.
  std::optional<core::ProxyFailure> proxy_failure() override {
    std::lock_guard<std::mutex> hold(report_->lock);
    return report_->failure;
  }

 private:
  std::unique_ptr<core::HttpRequest> inner_;
  std::shared_ptr<RelayEngine> engine_;
  uint16_t port_;
  std::shared_ptr<PortReport> report_;
};

}  // namespace

std::optional<core::DetectionOutcome> RelayedSiteFetcher::DetectProtocol(
    const core::UpstreamProxy& proxy, const core::NetTarget& target) {
  if (aborted_) return core::DetectionOutcome{};
  return RaceProxyHandshakes(proxy, target, {}, abort_event_.get());
}

std::unique_ptr<core::HttpRequest> RelayedSiteFetcher::OpenHttp(const core::SiteRequest& request) {
  if (!request.own_protocol) return inner_->OpenHttp(request);
  if (!engine_) return nullptr;
  auto route = std::make_shared<RelayRoute>();
  route->candidates.push_back(
      {*request.own_protocol, core::HostPortText(request.own_protocol->proxy)});
  std::string error;
  auto report = std::make_shared<PortReport>();
  uint16_t port = engine_->Listen(
      0, [route] { return std::shared_ptr<const RelayRoute>(route); },
      [report](RelayReport r) {
        if (r.failures.empty()) return;
        std::lock_guard<std::mutex> hold(report->lock);
        report->failure = r.failures.back().failure;
      },
      &error, /*one_client=*/true);
  if (port == 0) return nullptr;
  core::SiteRequest relayed = request;
  relayed.proxy = "127.0.0.1:" + std::to_string(port);
  relayed.own_protocol.reset();
  std::unique_ptr<core::HttpRequest> inner = inner_->OpenHttp(relayed);
  if (!inner) {
    engine_->CloseListener(port);
    return nullptr;
  }
  return std::make_unique<PortBoundRequest>(std::move(inner), engine_, port, std::move(report));
}

}  // namespace win
