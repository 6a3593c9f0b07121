// The input is a provider link's answer (lines, JSON, a table, an error, a
// page). Every entry read must be a proxy line the list takes, with an expiry
// inside the day ahead, and the answer's kind must agree with its entries.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/download/provider_answer.h"
#include "core/proxylist/proxy_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  constexpr core::AnswerTime kNow{1'800'000'000, 8 * 3600};
  core::ProviderAnswer answer = core::ParseProviderAnswer(text, kNow);
  if ((answer.kind == core::ProviderAnswer::Kind::kList) == answer.entries.empty()) std::abort();
  if (answer.kind != core::ProviderAnswer::Kind::kList && answer.message.empty()) std::abort();
  for (const core::ProviderEntry& e : answer.entries) {
    core::ProxyLine parsed;
    if (!core::ParseProxyLine(e.line, &parsed)) std::abort();
    if (e.expires && (*e.expires <= kNow.now_unix ||
                      *e.expires - kNow.now_unix > core::kMaxExpiryAheadSeconds)) {
      std::abort();
    }
  }
  core::ListBodyProblem(text);
  return 0;
}
