// Fuzzes the address extractor with arbitrary text. Besides not crashing or
// hanging, every line it gives must be an IPv4 proxy line the parser accepts,
// no line may come twice, none may carry the reserved mark, and the lines with
// a log-in are the ones counted.
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "core/proxylist/address_extractor.h"
#include "core/proxylist/proxy_line.h"
#include "core/proxylist/proxy_list.h"

namespace {

// Four decimal parts of at most 255 without leading zeros.
bool IsDottedQuad(std::string_view s) {
  int parts = 0;
  while (true) {
    size_t n = 0;
    int value = 0;
    while (n < s.size() && s[n] >= '0' && s[n] <= '9') value = value * 10 + (s[n++] - '0');
    if (n == 0 || n > 3 || value > 255 || (n > 1 && s[0] == '0')) return false;
    ++parts;
    s.remove_prefix(n);
    if (s.empty()) return parts == 4;
    if (s[0] != '.' || parts == 4) return false;
    s.remove_prefix(1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  core::ExtractedProxies found = core::ExtractProxyLines(input);
  if (found.with_login < 0 || size_t(found.with_login) > found.lines.size()) std::abort();
  int with_login = 0;
  std::set<std::string> seen;
  for (const std::string& line : found.lines) {
    if (!seen.insert(line).second) std::abort();
    core::ProxyLine p;
    if (!core::ParseProxyLine(line, &p)) std::abort();
    if (!IsDottedQuad(p.address)) std::abort();
    if (p.remark.rfind(core::kReservedMark, 0) == 0) std::abort();
    with_login += p.has_credentials() ? 1 : 0;
  }
  if (with_login != found.with_login) std::abort();
  return 0;
}
