// Fuzzes the SOCKS5 client with a proxy's answers (and, on the same bytes, the HTTP
// and SOCKS4a clients). The first input byte picks credentials and how the answers are
// cut; whole and cut feeding must end alike, a tunnel's payload must be the input's
// tail, and a failure must carry a reason. A SOCKS5 client started ahead of its
// target (given as soon as it waits for one) that gets a tunnel must have said and
// got what the client started with its target did.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "core/net/proxy_handshake.h"

namespace {

struct Outcome {
  core::HandshakeState state;
  core::ProxyFailure failure;
  int code;
  std::string sent;
  std::string payload;
};

const core::NetTarget kTarget{"example.com", 443};

std::optional<core::ProxyCredentials> Credentials(bool with) {
  if (!with) return std::nullopt;
  return core::ProxyCredentials{"user", "password"};
}

Outcome Feed(core::ProxyHandshake* h, std::string_view input, size_t step) {
  Outcome o;
  if (h->AwaitingTarget()) h->SetTarget(kTarget);
  o.sent = h->TakeOutput();
  for (size_t at = 0; at < input.size(); at += step) {
    h->Feed(input.substr(at, step));
    if (h->AwaitingTarget()) h->SetTarget(kTarget);
    o.sent += h->TakeOutput();
  }
  o.state = h->state();
  o.failure = h->failure();
  o.code = h->reply_code();
  o.payload = h->TakePayload();
  if (o.state == core::HandshakeState::kFailed && o.failure == core::ProxyFailure::kNone) {
    std::abort();
  }
  if (o.state != core::HandshakeState::kFailed && o.failure != core::ProxyFailure::kNone) {
    std::abort();
  }
  if (o.payload.size() > input.size() ||
      input.substr(input.size() - o.payload.size()) != o.payload) {
    std::abort();
  }
  return o;
}

Outcome Run(core::ProxyProtocol protocol, bool credentials, std::string_view input, size_t step) {
  auto h = core::StartProxyHandshake(protocol, {kTarget, Credentials(credentials)});
  return Feed(h.get(), input, step);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  bool credentials = data[0] & 1;
  size_t step = (data[0] >> 1) % 9 + 1;
  std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  for (core::ProxyProtocol p :
       {core::ProxyProtocol::kSocks5, core::ProxyProtocol::kHttp, core::ProxyProtocol::kSocks4a}) {
    Outcome whole = Run(p, credentials, input, input.size() + 1);
    Outcome cut = Run(p, credentials, input, step);
    if (whole.state != cut.state || whole.failure != cut.failure || whole.code != cut.code ||
        whole.payload != cut.payload) {
      std::abort();
    }
    // A failure drops what was not yet taken, so whole feeding may have sent less, but
    // never anything else.
    if (cut.sent.compare(0, whole.sent.size(), whole.sent) != 0) std::abort();
  }
  auto ahead = core::StartHandshakeAhead(core::ProxyProtocol::kSocks5, Credentials(credentials));
  Outcome early = Feed(ahead.get(), input, step);
  if (early.state == core::HandshakeState::kTunnelUp) {
    Outcome cut = Run(core::ProxyProtocol::kSocks5, credentials, input, step);
    if (cut.state != early.state || cut.payload != early.payload || cut.sent != early.sent) {
      std::abort();
    }
  }
  return 0;
}
