// The proxy a connection is carried through: its address, the protocol it speaks
// and the user name and password it wants, as the relay, the verification and the
// command-line checker take it from a row. Pure data and functions; any thread.
#pragma once

#include <optional>
#include <string_view>

#include "core/net/net_target.h"
#include "core/net/proxy_handshake.h"

namespace core {

struct UpstreamProxy {
  NetTarget proxy;
  ProxyProtocol protocol = ProxyProtocol::kHttp;
  std::optional<ProxyCredentials> credentials;
  bool operator==(const UpstreamProxy&) const = default;
};

// The protocol a row's type speaks: "", HTTP and HTTPS speak HTTP (an HTTPS row
// is an HTTP proxy that tunnels https), SOCKS and SOCKS4 speak SOCKS4, SOCKS4A
// SOCKS4a, SOCKS5 SOCKS5. Nothing for FTP, GOPHER and unknown words.
std::optional<ProxyProtocol> ProtocolOfType(std::string_view type);

// Whether the system's own proxy setting cannot carry this proxy, so that a local
// relay must stand in for it: the setting has no place for a user name and
// password, and what reads it speaks only HTTP and SOCKS4 (without names).
bool NeedsLocalRelay(const UpstreamProxy& upstream);

}  // namespace core
