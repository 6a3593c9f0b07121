// The machine's browser proxy: the two "Internet Settings" values that WinInet
// and other programs read, plus WinInet's own notifications, so browsers follow
// at once, and the record of the user's own settings that the exit restores.
// The text forms come from core/sysproxy. UI thread (WinInet options are
// process-wide).
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/sysproxy/proxy_server_text.h"
#include "core/sysproxy/relay_record.h"
#include "win/platform/registry.h"
#include "win/platform/win_status.h"

namespace win {

inline constexpr std::string_view kInternetSettingsKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// One connection's own proxy settings as WinInet keeps them.
struct ConnectionProxy {
  DWORD flags = 0x1;    // INTERNET_PER_CONN_FLAGS; 0x1 is PROXY_TYPE_DIRECT of <wininet.h>
  std::wstring server;  // INTERNET_PER_CONN_PROXY_SERVER
  std::wstring bypass;  // INTERNET_PER_CONN_PROXY_BYPASS
  bool operator==(const ConnectionProxy&) const = default;
};

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
  // The flags, proxy server and bypass list of a connection; an empty name is
  // the LAN. False when they cannot be read.
  virtual bool Query(const std::wstring& connection, ConnectionProxy* settings) = 0;
  // Sets the flags and, when given, the proxy server and the bypass list.
  // False when WinInet refused.
  virtual bool SetOptions(const std::wstring& connection, DWORD flags, const std::wstring* server,
                          const std::wstring* bypass = nullptr) = 0;
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
// "ProxyEnable" (clearing writes only "ProxyEnable" 0: the server text stays as
// the user or the last switch left it; a refused write ends the switch there,
// reported in `written`),
// sets WinInet's process-wide proxy (the same text), announces the change, and
// applies the same server (or direct access) to the per-connection settings of
// the LAN and of every connection entry, changing only the proxy bit of each
// one's own flags (an entry that cannot be written is skipped), followed by one
// refresh: WinInet keeps its own copy there, and without it current browsers
// keep the old proxy, also those that go online through a dial-up or VPN entry.
SystemProxyApplied SetSystemProxy(std::string_view text, const SystemProxyPlace& place);
// The same for a change already planned (core::PlanSystemProxyOf): nothing is parsed.
SystemProxyApplied ApplySystemProxy(const core::SystemProxyChange& plan,
                                    const SystemProxyPlace& place);

// Reads "ProxyServer" and "ProxyEnable" back (any value type; nothing is written).
core::SystemProxyReadBack ReadSystemProxy(const SystemProxyPlace& place);

// The user's own proxy settings as they were before the program's first switch
// in a session: the two values above exactly as stored, and each connection's
// flags, server and bypass list, so that the program's exit can put them back.
// Owned by the Switcher; UI thread.
class UserProxySettings {
 public:
  // Records the settings at `place` now, unless they are recorded already.
  // A connection whose settings cannot be read is not recorded (and later not
  // restored).
  void RecordOnce(const SystemProxyPlace& place);
  // Records the settings at `place` now, in place of what was recorded.
  void Record(const SystemProxyPlace& place);
  bool recorded() const { return recorded_; }
  // What was recorded, in the form the profile keeps (texts in UTF-8), and
  // settings recorded from that form.
  core::SavedProxySetting Saved() const;
  static UserProxySettings FromSaved(const core::SavedProxySetting& saved);
  // Puts back what was recorded, then forgets it (nothing happens when nothing
  // was recorded): each recorded connection's settings (one refused by WinInet
  // is skipped), then the two values (a value that was missing is deleted
  // again), then WinInet is told. Returns the first refused registry write.
  WinStatus Restore(const SystemProxyPlace& place);

 private:
  bool recorded_ = false;
  std::optional<RegistryValue> server_;
  std::optional<RegistryValue> enable_;
  std::vector<std::pair<std::wstring, ConnectionProxy>> connections_;
};

}  // namespace win
