// The text forms of the system proxy: the "ProxyServer" value written for a
// proxy text, and the proxy text read back from that value at start. Pure
// functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace core {

struct SystemProxyChange {
  bool accepted = false;      // false: a non-empty text the parser refused
  std::string current_proxy;  // the trimmed text; empty when clearing
  std::string proxy_server;   // the "ProxyServer" value; empty when clearing
  bool enable = false;        // the "ProxyEnable" value
  std::string host;           // the address alone, as the parser split it
  std::string error_message;  // set when not accepted
};

inline constexpr std::string_view kSystemProxyErrorCaption = "发现错误";

// What applying `text` writes. An empty (or blank) text clears the proxy. A
// proxy without type or with HTTP is written "host:port", SOCKS kinds as
// "socks=host:port", the other kinds as "kind=host:port" in lower case. A
// proxy that is this machine on one of `relay_ports` (the program's own relay,
// NamesOwnPort) is refused: the relay would carry every connection to itself.
SystemProxyChange PlanSystemProxy(std::string_view text,
                                  const std::vector<uint16_t>& relay_ports = {});

struct SystemProxyReadBack {
  std::string list_line;      // added to the list as a favorite (may not parse)
  std::string current_proxy;  // the proxy in use; empty when the proxy is off
};

// Reads the values found at start: the first entry of a per-protocol list is
// taken, and a "kind=" prefix of a known kind becomes an "@KIND" suffix
// (socks=1.2.3.4:1080 -> 1.2.3.4:1080@SOCKS). `enable` is the ProxyEnable value
// as text; only a non-zero number turns the proxy on.
SystemProxyReadBack ReadBackSystemProxy(std::string_view proxy_server, std::string_view enable);

// Where a request for a page goes under the "ProxyServer" text `proxy_server`
// (a plain "host:port", or "kind=host:port" entries separated by ';'): the
// entry of the page's scheme ("http" or "https"), else the plain entry, else
// the "socks" one. A missing port is 80. False when no entry serves the page
// (an empty text, only other kinds, a port that is not 1..65535).
bool ProxyForPage(std::string_view proxy_server, std::string_view scheme, std::string* host,
                  uint16_t* port);

}  // namespace core
