// The list at start: the saved list, and the system proxy read back from the
// setting, which either names a row already in the list (and is then that row,
// in use) or comes in front of the list as a ticked row of its own. Pure over
// the list and the profile; UI thread only, like the list.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/base/profile_store.h"
#include "core/base/secret_codec.h"
#include "core/proxylist/list_profile.h"
#include "core/proxylist/proxy_list.h"
#include "core/sysproxy/proxy_in_use.h"
#include "core/sysproxy/proxy_server_text.h"

namespace core {

// The row of `list` that the system setting read back as `line` (a
// SystemProxyReadBack::list_line: "host:port" or "host:port@KIND") names, or
// -1. Address (letter case aside) and port number must be equal, and the row's
// type must be one the setting can stand for as it is written: a plain
// "host:port" is an untyped, HTTP or HTTPS row (the program writes each of them
// so); "@HTTP" an HTTP or untyped row; "@SOCKS" (the setting's socks= entry,
// which speaks SOCKS4) a SOCKS or SOCKS4 row; any other kind only its own type.
// A row with a user name is never named: the setting cannot carry a log-in.
// The first such row in list order.
int64_t FindSystemProxyRow(const ProxyList& list, std::string_view line);

// The proxy in use while the system setting reads `back`: the row it names
// (FindSystemProxyRow), else its text as a proxy of no row; none while off.
ProxyInUse ProxyInUseOfSetting(const ProxyList& list, const SystemProxyReadBack& back);

struct StartedList {
  ProxyInUse in_use;          // empty: none
  LoadedListNote note;        // what the saved list could not bring back
};

// Loads the saved list into `list` (empty so far) and takes in the system
// proxy read back at start. A setting that names a row (FindSystemProxyRow)
// adds nothing; when the proxy is on, that row is the proxy in use. Any other
// setting is added ticked, in front of the saved rows, and is the proxy in use
// when on (as a text of no row when the list is full). An empty `back` (no setting, or the local
// relay's own address) adds nothing and leaves no proxy in use.
StartedList LoadListAtStart(ProxyList& list, const SystemProxyReadBack& back, ProfileStore& store,
                            SecretCodec* codec = nullptr);

}  // namespace core
