#include "core/net/upstream.h"

namespace core {

std::optional<ProxyProtocol> ProtocolOfType(std::string_view type) {
  if (type.empty() || type == "HTTP" || type == "HTTPS") return ProxyProtocol::kHttp;
  if (type == "SOCKS" || type == "SOCKS4") return ProxyProtocol::kSocks4;
  if (type == "SOCKS4A") return ProxyProtocol::kSocks4a;
  if (type == "SOCKS5") return ProxyProtocol::kSocks5;
  return std::nullopt;
}

bool NeedsLocalRelay(const UpstreamProxy& upstream) {
  if (upstream.credentials) return true;
  return upstream.protocol == ProxyProtocol::kSocks5 ||
         upstream.protocol == ProxyProtocol::kSocks4a;
}

}  // namespace core
