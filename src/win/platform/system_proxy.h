// The machine's browser proxy: the two "Internet Settings" values that WinInet
// and other programs read, plus WinInet's own notifications, so browsers follow
// at once. The text forms come from core/sysproxy. UI thread (WinInet options
// are process-wide).
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "core/sysproxy/proxy_server_text.h"

namespace win {

inline constexpr std::string_view kInternetSettingsKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// Where the proxy lives. Tests name a key of their own and may leave WinInet
// alone; the program uses the defaults.
struct SystemProxyPlace {
  HKEY root = HKEY_CURRENT_USER;
  std::string key = std::string(kInternetSettingsKey);
  bool tell_wininet = true;
};

// Applies `text` (a proxy text; empty clears the proxy). A non-empty text that
// does not parse changes nothing and comes back with accepted == false and the
// error message the user is to see. Otherwise writes "ProxyServer" then
// "ProxyEnable", sets WinInet's process-wide proxy (host alone), announces the
// change, and applies the same server (or direct access) to the LAN connection's
// per-connection settings followed by a refresh: WinInet keeps its own copy
// there, and without it current browsers keep the old proxy.
core::SystemProxyChange SetSystemProxy(std::string_view text, const SystemProxyPlace& place);

// Reads "ProxyServer" and "ProxyEnable" back (any value type; nothing is written).
core::SystemProxyReadBack ReadSystemProxy(const SystemProxyPlace& place);

}  // namespace win
