// The proxy in use: which row of the list it is, and the row's value (address,
// port, type, log-in, the proxy a connection goes to) taken once when the row
// was chosen. The system setting, the local relay's route and failover work
// from this value; none of them looks for the row by its text. Pure; UI thread
// (the list's own).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/net/relay_session.h"
#include "core/net/upstream.h"
#include "core/proxylist/proxy_list.h"
#include "core/sysproxy/proxy_server_text.h"

namespace core {

struct ProxyInUse {
  // kNoRow: no proxy, or a setting read back at start that is no row of the list.
  RowId row = kNoRow;
  std::string address;  // as the row holds it
  std::string port;
  std::string type;  // "" for an untyped row
  std::optional<ProxyCredentials> login;
  // Where a connection through it goes; nullopt for FTP and GOPHER, through
  // which no connection can be carried.
  std::optional<UpstreamProxy> upstream;
  // How the menu, the tips and the exit check name it: the row's proxy text
  // (ProxyList::RowProxyText), which names a log-in's user but never its password.
  std::string text;
  // A new exit per connection: the setting names the local relay, which gives
  // each connection the next row of its rotation; no row is in use.
  bool rotation = false;

  bool empty() const { return text.empty(); }
};

// The rotation as the proxy in use, named with the rows it goes round.
ProxyInUse RotationInUse(size_t rows);
inline constexpr std::string_view kRotationText = "每个连接换一个IP";

// The value of row `index`; empty outside the list.
ProxyInUse ProxyInUseOfRow(const ProxyList& list, size_t index);
// The value of a proxy text that is no row (the setting read back at start);
// empty for a text that does not parse.
ProxyInUse ProxyInUseOfText(std::string_view text);

// What writing `proxy` into the system setting writes: see PlanSystemProxy.
// Nothing is parsed. An empty value clears the proxy.
SystemProxyChange PlanSystemProxyOf(const ProxyInUse& proxy,
                                    const std::vector<uint16_t>& relay_ports = {});

// Whether the system setting gets the relay's address while `proxy` is in use:
// when the setting cannot carry the proxy itself (NeedsLocalRelay), or the user
// sends every row through the relay, and always for the rotation. Never for a
// value without an upstream.
bool RelayStandsInFor(const ProxyInUse& proxy, bool all_rows_through_relay);

// The candidates of a relayed connection while `proxy` is in use: its own
// upstream, then the usable rows (never verified, or verified usable) that
// follow its row in list order, from the top again after the last, up to
// kMaxRelayAttempts in all. Each candidate carries its row's id as its tag.
// A value of no row (or of a row since removed) is the only candidate; one
// without an upstream gives none. Costs a look at the rows that follow, never
// a walk of the whole list for a usable row list.
std::vector<RelayCandidate> RelayCandidatesFor(const ProxyList& list, const ProxyInUse& proxy);

}  // namespace core
