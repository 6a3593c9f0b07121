// Fuzzes the reading of the exit check's echo page and the choice of the proxy
// a page goes through. The address found must be a dotted quad of 0..255
// without leading zeros that stands in the page as written; a proxy chosen
// from a server text must have a host and a port of 1..65535.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/sysproxy/exit_check.h"
#include "core/sysproxy/proxy_server_text.h"

namespace {

bool IsDottedQuad(std::string_view s) {
  int parts = 0;
  size_t start = 0;
  while (start <= s.size()) {
    size_t dot = s.find('.', start);
    std::string_view part = s.substr(start, dot == std::string_view::npos ? s.npos : dot - start);
    if (part.empty() || part.size() > 3 || (part.size() > 1 && part[0] == '0')) return false;
    int value = 0;
    for (char c : part) {
      if (c < '0' || c > '9') return false;
      value = value * 10 + (c - '0');
    }
    if (value > 255) return false;
    ++parts;
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return parts == 4;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view page(reinterpret_cast<const char*>(data), size);
  std::string found = core::FindFirstIpv4(page);
  if (!found.empty() && (!IsDottedQuad(found) || page.find(found) == std::string_view::npos)) {
    std::abort();
  }
  std::string host;
  uint16_t port = 0;
  for (std::string_view scheme : {"http", "https"}) {
    if (core::ProxyForPage(page, scheme, &host, &port) && (host.empty() || port == 0)) {
      std::abort();
    }
  }
  return 0;
}
