#include "win/platform/relayed_site_fetcher.h"

#include <string>
#include <utility>

#include "win/platform/handshake_probe.h"

namespace win {
namespace {

// The inner request with the port bound to its proxy, closed after it.
class PortBoundRequest final : public core::HttpRequest {
 public:
  PortBoundRequest(std::unique_ptr<core::HttpRequest> inner, std::shared_ptr<RelayEngine> engine,
                   uint16_t port)
      : inner_(std::move(inner)), engine_(std::move(engine)), port_(port) {}
  ~PortBoundRequest() override {
    inner_.reset();
    engine_->CloseListener(port_);
  }
  core::TransferResult SendAndRead(const std::function<bool(std::string_view)>& sink) override {
    return inner_->SendAndRead(sink);
  }

 private:
  std::unique_ptr<core::HttpRequest> inner_;
  std::shared_ptr<RelayEngine> engine_;
  uint16_t port_;
};

}  // namespace

core::HandshakeAttempt RelayedSiteFetcher::TryHandshake(const core::UpstreamProxy& proxy,
                                                        const core::NetTarget& target) {
  if (aborted_) return {core::HandshakeState::kFailed, core::ProxyFailure::kTimeout};
  return TryProxyHandshake(proxy, target, {}, &aborted_);
}

std::unique_ptr<core::HttpRequest> RelayedSiteFetcher::OpenHttp(const core::SiteRequest& request) {
  if (!request.own_protocol) return inner_->OpenHttp(request);
  if (!engine_) return nullptr;
  auto route = std::make_shared<RelayRoute>();
  route->candidates.push_back(
      {*request.own_protocol, core::HostPortText(request.own_protocol->proxy)});
  std::string error;
  uint16_t port = engine_->Listen(
      0, [route] { return std::shared_ptr<const RelayRoute>(route); }, nullptr, &error,
      /*one_client=*/true);
  if (port == 0) return nullptr;
  core::SiteRequest relayed = request;
  relayed.proxy = "127.0.0.1:" + std::to_string(port);
  relayed.own_protocol.reset();
  std::unique_ptr<core::HttpRequest> inner = inner_->OpenHttp(relayed);
  if (!inner) {
    engine_->CloseListener(port);
    return nullptr;
  }
  return std::make_unique<PortBoundRequest>(std::move(inner), engine_, port);
}

}  // namespace win
