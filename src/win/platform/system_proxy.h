// The machine's browser proxy: the two "Internet Settings" values that WinInet
// and other programs read, plus WinInet's own notifications, so browsers follow
// at once. The text forms come from core/sysproxy. UI thread (WinInet options
// are process-wide).
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "core/sysproxy/proxy_server_text.h"
#include "win/platform/win_status.h"

namespace win {

inline constexpr std::string_view kInternetSettingsKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// WinInet's own copy of the proxy settings: the per-connection options of the
// LAN and of every dial-up, PPPoE and VPN entry, and the notifications. The
// program uses WinInetSettings(); tests record what the program sets (Wine
// keeps no connection entries and forgets the auto-detect and script flags).
class InternetSettings {
 public:
  virtual ~InternetSettings() = default;
  // The names of the system's connection entries (every phone book); empty
  // when there are none or the system has no phone-book functions.
  virtual std::vector<std::wstring> ConnectionEntries() = 0;
  // The per-connection flags (PROXY_TYPE_*) of a connection; an empty name is
  // the LAN. False when they cannot be read.
  virtual bool QueryFlags(const std::wstring& connection, DWORD* flags) = 0;
  // Sets the flags and, when `server` is given, the proxy server. False when
  // WinInet refused.
  virtual bool SetOptions(const std::wstring& connection, DWORD flags,
                          const std::wstring* server) = 0;
  // This process's own proxy (the ProxyServer text; empty: direct), then the
  // settings-changed notification.
  virtual void AnnounceChange(const std::wstring& proxy_server) = 0;
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

// What applying a proxy text did.
struct SystemProxyApplied {
  // accepted == false: a non-empty text that does not parse; nothing was
  // written and error_message says why.
  core::SystemProxyChange change;
  // A refused registry write: the switch did not happen (the values may be
  // half written; read them back to learn what is in force).
  WinStatus written;
  bool ok() const { return change.accepted && written.ok(); }
};

// Applies `text` (a proxy text; empty clears the proxy). A non-empty text that
// does not parse changes nothing. Otherwise writes "ProxyServer" then
// "ProxyEnable" (a refused write ends the switch there, reported in `written`),
// sets WinInet's process-wide proxy (the same text), announces the change, and
// applies the same server (or direct access) to the per-connection settings of
// the LAN and of every connection entry, changing only the proxy bit of each
// one's own flags (an entry that cannot be written is skipped), followed by one
// refresh: WinInet keeps its own copy there, and without it current browsers
// keep the old proxy, also those that go online through a dial-up or VPN entry.
SystemProxyApplied SetSystemProxy(std::string_view text, const SystemProxyPlace& place);

// Reads "ProxyServer" and "ProxyEnable" back (any value type; nothing is written).
core::SystemProxyReadBack ReadSystemProxy(const SystemProxyPlace& place);

}  // namespace win
