// Fuzzes the reply reader the checker reads pages with. The first input byte picks
// the piece size; reading whole and in pieces must end alike, with the same body,
// and the reader must never hold more than a head's limit between calls.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/net/http_head.h"
#include "core/net/http_response.h"

namespace {

struct Outcome {
  core::ResponseState state;
  core::ResponseFailure failure;
  int status;
  std::string body;
};

Outcome Run(std::string_view input, size_t step) {
  Outcome o;
  core::HttpResponseReader reader([&o](std::string_view piece) {
    o.body.append(piece);
    return true;
  });
  for (size_t at = 0; at < input.size() && reader.state() <= core::ResponseState::kBody;
       at += step) {
    reader.Feed(input.substr(at, step));
    if (reader.held_bytes() > 2 * core::kMaxHttpHead + 4096) std::abort();
  }
  reader.OnEnd();
  o.state = reader.state();
  o.failure = reader.failure();
  o.status = reader.status();
  if (o.state == core::ResponseState::kFailed && o.failure == core::ResponseFailure::kNone) {
    std::abort();
  }
  return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  size_t step = size_t(data[0] % 17) + 1;
  std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  Outcome whole = Run(input, input.size() + 1);
  Outcome cut = Run(input, step);
  if (whole.state != cut.state || whole.failure != cut.failure || whole.status != cut.status ||
      whole.body != cut.body) {
    std::abort();
  }
  return 0;
}
