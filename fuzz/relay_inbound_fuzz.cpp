// Fuzzes the relay's inbound machine with a client's first bytes. Fed whole and in
// pieces cut where the input's first byte says, it must reach the same end; an accepted
// request must carry a usable target that is not the relay itself, and a plain request
// must come back as heads that parse and end with "Connection: close".
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/net/http_head.h"
#include "core/net/relay_inbound.h"

namespace {

constexpr uint16_t kListenPort = 7000;

struct Outcome {
  core::InboundState state;
  core::InboundRefusal refusal;
  std::string output;
  std::string host;
  uint16_t port = 0;
  std::string payload;
  std::string origin;
};

Outcome Run(std::string_view input, size_t step) {
  core::RelayInbound in({kListenPort, 512});
  Outcome o;
  for (size_t at = 0; at < input.size(); at += step) {
    in.Feed(input.substr(at, step));
    o.output += in.TakeOutput();
  }
  o.state = in.state();
  o.refusal = in.refusal();
  if (o.state == core::InboundState::kReady) {
    o.host = in.target().host;
    o.port = in.target().port;
    o.payload = in.TakeEarlyPayload();
    o.origin = in.OriginFormHead();
  }
  return o;
}

void CheckHead(const std::string& head) {
  core::HttpHead parsed;
  if (!core::ParseHttpHead(head, &parsed)) std::abort();
  if (core::FindHeadEnd(head) != head.size()) std::abort();
  if (head.find("Connection: close\r\n\r\n") != head.size() - 21) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t step = data[0] % 7 + 1;
  std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  Outcome whole = Run(input, input.size() + 1);
  Outcome cut = Run(input, step);
  if (whole.state != cut.state || whole.refusal != cut.refusal || whole.output != cut.output ||
      whole.host != cut.host || whole.port != cut.port || whole.payload != cut.payload ||
      whole.origin != cut.origin) {
    std::abort();
  }
  if (whole.state == core::InboundState::kReady) {
    if (whole.port == 0 || core::ClassifyHost(whole.host) == core::HostKind::kInvalid) std::abort();
    if (whole.port == kListenPort && core::IsLoopbackHost(whole.host)) std::abort();
    if (input.substr(input.size() - whole.payload.size()) != whole.payload) std::abort();
    if (!whole.origin.empty()) CheckHead(whole.origin);
  } else if (whole.state == core::InboundState::kRefused && whole.output.empty()) {
    std::abort();  // every refusal says something to the client
  }
  return 0;
}
