#include "core/sysproxy/relay_route.h"

#include "core/base/text.h"
#include "core/proxylist/proxy_line.h"

namespace core {
namespace {

std::optional<UpstreamProxy> UpstreamOf(std::string_view address, std::string_view port_text,
                                        std::string_view type) {
  std::optional<ProxyProtocol> protocol = ProtocolOfType(type);
  NetTarget proxy;
  if (!protocol || !ParseAuthority(std::string(address) + ":" + std::string(port_text), 0, &proxy))
    return std::nullopt;
  return UpstreamProxy{proxy, *protocol, std::nullopt};
}

}  // namespace

std::optional<UpstreamProxy> UpstreamOfProxyText(std::string_view text) {
  ProxyLine line;
  if (!ParseProxyLine(text, &line)) return std::nullopt;
  std::optional<UpstreamProxy> upstream = UpstreamOf(line.address, line.port, line.type);
  // A row's proxy text names its user but never its password: the log-in
  // itself comes from the row (UpstreamOfRow).
  if (upstream && !line.user.empty()) upstream->credentials = ProxyCredentials{line.user, ""};
  return upstream;
}

std::optional<UpstreamProxy> UpstreamOfRow(const ProxyList& list, size_t row) {
  if (row >= list.size()) return std::nullopt;
  return list.RowUpstream(int64_t(row));
}

bool RelayStandsInFor(std::string_view text, bool all_rows_through_relay) {
  std::optional<UpstreamProxy> upstream = UpstreamOfProxyText(text);
  return upstream && (all_rows_through_relay || NeedsLocalRelay(*upstream));
}

std::vector<RelayCandidate> RelayCandidatesFor(const ProxyList& list, std::string_view text) {
  std::vector<RelayCandidate> out;
  std::optional<UpstreamProxy> own = UpstreamOfProxyText(text);
  if (!own) return out;
  size_t in_use = list.size();
  for (size_t i = 0; i < list.size(); ++i) {
    if (EqualsIgnoreAsciiCase(list.RowProxyText(int64_t(i)), text)) {
      in_use = i;
      break;
    }
  }
  if (in_use == list.size()) {
    out.push_back({*own, std::string(text)});
    return out;
  }
  std::optional<UpstreamProxy> row_upstream = UpstreamOfRow(list, in_use);
  out.push_back({row_upstream ? *row_upstream : *own, list.RowHostPort(int64_t(in_use))});
  for (size_t step = 1; step < list.size() && out.size() < kMaxRelayAttempts; ++step) {
    size_t i = (in_use + step) % list.size();
    if (list.row(i).score == 0) continue;
    std::optional<UpstreamProxy> upstream = UpstreamOfRow(list, i);
    if (upstream) out.push_back({*upstream, list.RowHostPort(int64_t(i))});
  }
  return out;
}

}  // namespace core
