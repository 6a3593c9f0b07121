// Which proxies the local relay carries connections through while a proxy text
// is in use, and whether the system setting names the relay instead of the proxy
// itself. Pure functions over the list; UI thread (the list's own).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/net/relay_session.h"
#include "core/net/upstream.h"
#include "core/proxylist/proxy_list.h"

namespace core {

// The proxy a proxy text names ("host:port", "host:port@SOCKS5" …): nothing for a
// text that does not parse or a type no connection can be carried through (FTP,
// GOPHER).
std::optional<UpstreamProxy> UpstreamOfProxyText(std::string_view text);

// The proxy of row `row`, with its user name and password when it has them.
std::optional<UpstreamProxy> UpstreamOfRow(const ProxyList& list, size_t row);

// Whether the system setting gets the relay's address while `text` is in use:
// when the setting cannot carry the proxy itself (NeedsLocalRelay), or the user
// sends every row through the relay. Never for a text without a usable proxy.
bool RelayStandsInFor(std::string_view text, bool all_rows_through_relay);

// The candidates of a relayed connection while `text` is in use: its own proxy,
// then the usable rows (never verified, or verified usable) that follow its row
// in list order, from the top again after the last, up to kMaxRelayAttempts in
// all. A text that names no row of the list is the only candidate; a text
// without a usable proxy gives none.
std::vector<RelayCandidate> RelayCandidatesFor(const ProxyList& list, std::string_view text);

}  // namespace core
