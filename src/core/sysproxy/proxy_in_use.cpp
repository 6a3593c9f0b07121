#include "core/sysproxy/proxy_in_use.h"

#include "core/base/text.h"
#include "core/net/net_target.h"
#include "core/proxylist/proxy_line.h"

namespace core {

ProxyInUse ProxyInUseOfRow(const ProxyList& list, size_t index) {
  ProxyInUse p;
  if (index >= list.size()) return p;
  ProxyRow row = list.row(index);
  p.row = list.IdAt(index);
  p.address = std::string(row.address);
  p.port = std::string(row.port);
  p.type = std::string(row.type);
  p.login = list.RowCredentials(int64_t(index));
  p.upstream = list.RowUpstream(int64_t(index));
  p.text = list.RowProxyText(int64_t(index));
  return p;
}

ProxyInUse ProxyInUseOfText(std::string_view text) {
  ProxyInUse p;
  ProxyLine line;
  if (!ParseProxyLine(Trim(text), &line)) return p;
  // A text that is no row names a user at most, never a password: the
  // setting read back carries neither.
  ProxyList one;
  if (one.AddParsed(line, false) != AddResult::kAdded) return p;
  p = ProxyInUseOfRow(one, 0);
  p.row = kNoRow;
  p.text = std::string(Trim(text));
  return p;
}

ProxyInUse RotationInUse(size_t rows) {
  ProxyInUse p;
  p.rotation = true;
  p.text = std::string(kRotationText) + "（" + std::to_string(rows) + "个IP）";
  return p;
}

SystemProxyChange PlanSystemProxyOf(const ProxyInUse& proxy,
                                    const std::vector<uint16_t>& relay_ports) {
  SystemProxyChange change;
  if (proxy.empty() || proxy.rotation) {
    // The rotation's setting is the relay's own address, which the relay gives.
    change.accepted = true;
    change.enable = proxy.rotation;
    change.current_proxy = proxy.text;
    return change;
  }
  // An address that would read as several entries of the system's proxy list
  // (a line such as "x;http=5.6.7.8:80") is refused like any bad text.
  if (!AddressFitsProxyServerText(proxy.address)) {
    change.error_message = Format("[%s:%s@%s]是一个无效的代理服务器项目", proxy.address.c_str(),
                                  proxy.port.c_str(), proxy.type.c_str());
    return change;
  }
  if (NamesOwnPort(proxy.address, proxy.port, relay_ports)) {
    change.error_message = Format("[%s]是本程序自己的本地中转，不能用作代理",
                                  HostPortText(proxy.address, proxy.port).c_str());
    return change;
  }
  change.accepted = true;
  change.current_proxy = proxy.text;
  change.host = proxy.address;
  change.enable = true;
  std::string host_port = HostPortText(proxy.address, proxy.port);
  if (proxy.type.empty() || proxy.type == "HTTP") {
    change.proxy_server = host_port;
  } else if (IsSocksType(proxy.type)) {
    change.proxy_server = "socks=" + host_port;
  } else {
    std::string kind = proxy.type;
    for (char& c : kind) c = AsciiLower(c);
    change.proxy_server = kind + "=" + host_port;
  }
  return change;
}

bool RelayStandsInFor(const ProxyInUse& proxy, bool all_rows_through_relay) {
  return proxy.rotation ||
         (proxy.upstream && (all_rows_through_relay || NeedsLocalRelay(*proxy.upstream)));
}

std::vector<RelayCandidate> RelayCandidatesFor(const ProxyList& list, const ProxyInUse& proxy) {
  std::vector<RelayCandidate> out;
  if (!proxy.upstream) return out;
  std::optional<size_t> in_use = list.IndexOf(proxy.row);
  out.push_back({*proxy.upstream, HostPortText(proxy.address, proxy.port), uint64_t(proxy.row)});
  if (!in_use) return out;
  // The rows after it, as far as it takes to find the usable ones (a list
  // whose rows all failed is walked once).
  for (size_t step = 1; step < list.size() && out.size() < kMaxRelayAttempts; ++step) {
    size_t i = (*in_use + step) % list.size();
    const ProxyRow r = list.row(i);
    if (r.score == 0 || r.expired) continue;
    std::optional<UpstreamProxy> upstream = list.RowUpstream(int64_t(i));
    if (upstream) out.push_back({*upstream, list.RowHostPort(int64_t(i)), uint64_t(list.IdAt(i))});
  }
  return out;
}

}  // namespace core
