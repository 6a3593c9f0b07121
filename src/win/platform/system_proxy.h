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

// WinInet's own copy of the proxy settings: the per-connection options and
// the notifications. The program uses WinInetSettings(); tests record what the
// program sets (Wine does not keep the auto-detect and script flags).
class InternetSettings {
 public:
  virtual ~InternetSettings() = default;
  // The per-connection flags (PROXY_TYPE_*) of a connection; an empty name is
  // the LAN. False when they cannot be read.
  virtual bool QueryFlags(const std::wstring& connection, DWORD* flags) = 0;
  // Sets the flags and, when `server` is given, the proxy server.
  virtual void SetOptions(const std::wstring& connection, DWORD flags,
                          const std::wstring* server) = 0;
  // This process's own proxy (the host alone), then the settings-changed
  // notification.
  virtual void AnnounceChange(const std::wstring& host) = 0;
  // Makes WinInet read the settings again.
  virtual void Refresh() = 0;
};

// The real WinInet; one per process.
InternetSettings& WinInetSettings();

// The flags a connection gets: only the proxy bit follows the switch, so that
// "automatically detect settings" and a configuration script stay as the user
// set them; direct access is always allowed.
DWORD ProxyFlagsAfterSwitch(DWORD current, bool proxy_on);

// Where the proxy lives. Tests name a key of their own and leave WinInet alone
// (or record what it is told); the program names the defaults and
// WinInetSettings().
struct SystemProxyPlace {
  HKEY root = HKEY_CURRENT_USER;
  std::string key = std::string(kInternetSettingsKey);
  InternetSettings* wininet = nullptr;  // null: WinInet is not told
};

// Applies `text` (a proxy text; empty clears the proxy). A non-empty text that
// does not parse changes nothing and comes back with accepted == false and the
// error message the user is to see. Otherwise writes "ProxyServer" then
// "ProxyEnable", sets WinInet's process-wide proxy (host alone), announces the
// change, and applies the same server (or direct access) to the LAN
// connection's per-connection settings, changing only the proxy bit of its
// flags, followed by a refresh: WinInet keeps its own copy there, and without
// it current browsers keep the old proxy.
core::SystemProxyChange SetSystemProxy(std::string_view text, const SystemProxyPlace& place);

// Reads "ProxyServer" and "ProxyEnable" back (any value type; nothing is written).
core::SystemProxyReadBack ReadSystemProxy(const SystemProxyPlace& place);

}  // namespace win
