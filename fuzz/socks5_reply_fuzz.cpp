// Fuzzes the SOCKS5 client with a proxy's answers (and, on the same bytes, the HTTP
// and SOCKS4a clients). The first input byte picks credentials and how the answers are
// cut; whole and cut feeding must end alike, a tunnel's payload must be the input's
// tail, and a failure must carry a reason.
#include <cstdint>
#include <cstdlib>
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

Outcome Run(core::ProxyProtocol protocol, bool credentials, std::string_view input, size_t step) {
  core::HandshakeRequest request;
  request.target = {"example.com", 443};
  if (credentials) request.credentials = core::ProxyCredentials{"user", "password"};
  auto h = core::StartProxyHandshake(protocol, request);
  Outcome o;
  o.sent = h->TakeOutput();
  for (size_t at = 0; at < input.size(); at += step) {
    h->Feed(input.substr(at, step));
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
  return 0;
}
