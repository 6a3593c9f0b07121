#include "win/platform/system_proxy.h"

// The one file of the program that talks to WinInet's options.
#include <wininet.h>

#include <vector>

#include "win/platform/registry.h"
#include "win/platform/wide_text.h"

namespace win {
namespace {

constexpr std::string_view kProxyServerValue = "ProxyServer";
constexpr std::string_view kProxyEnableValue = "ProxyEnable";

WinStatus WriteValues(const core::SystemProxyChange& change, const SystemProxyPlace& place) {
  // Clearing turns the proxy off and leaves the server text alone, as the
  // system's own dialog does: the user's server is still there to turn on.
  if (!change.enable) return WriteRegistryDword(place.root, place.key, kProxyEnableValue, 0);
  // Other programs read these two values; ProxyServer goes first so that a
  // reader never sees ProxyEnable 1 with the previous server.
  WinStatus status =
      WriteRegistryString(place.root, place.key, kProxyServerValue, change.proxy_server);
  if (!status.ok()) return status;
  return WriteRegistryDword(place.root, place.key, kProxyEnableValue, 1);
}

// The LAN first, always, then every connection entry.
std::vector<std::wstring> AllConnections(InternetSettings& wininet) {
  std::vector<std::wstring> connections = wininet.ConnectionEntries();
  connections.insert(connections.begin(), std::wstring());
  return connections;
}

void SetPerConnectionProxy(const core::SystemProxyChange& change, InternetSettings& wininet) {
  // Clearing leaves the server text alone in the per-connection copy; only the
  // flags say "direct".
  std::wstring server = Utf8ToWide(change.proxy_server);
  for (const std::wstring& connection : AllConnections(wininet)) {
    ConnectionProxy settings;
    DWORD flags = wininet.Query(connection, &settings) ? settings.flags : DWORD(PROXY_TYPE_DIRECT);
    // A refused entry is skipped; the others still follow.
    wininet.SetOptions(connection, ProxyFlagsAfterSwitch(flags, change.enable),
                       change.enable ? &server : nullptr);
  }
}

// RasEnumEntriesW, looked up at run time: a system without the phone-book
// functions simply has no entries.
std::vector<std::wstring> EnumerateConnectionEntries() {
  using RasEnumEntries = DWORD(WINAPI*)(LPCWSTR, LPCWSTR, void*, LPDWORD, LPDWORD);
  static const RasEnumEntries enumerate = [] {
    HMODULE ras = LoadLibraryW(L"rasapi32.dll");
    return ras ? reinterpret_cast<RasEnumEntries>(
                     reinterpret_cast<void*>(GetProcAddress(ras, "RasEnumEntriesW")))
               : nullptr;
  }();
  std::vector<std::wstring> names;
  if (enumerate == nullptr) return names;
  // RASENTRYNAMEW: dwSize, szEntryName[RAS_MaxEntryName + 1], dwFlags,
  // szPhonebookPath[MAX_PATH + 1]; declared here so that <ras.h> stays out.
  struct EntryName {
    DWORD size;
    wchar_t name[257];
    DWORD flags;
    wchar_t phonebook[MAX_PATH + 1];
  };
  std::vector<EntryName> entries(1);
  entries[0].size = sizeof(EntryName);
  DWORD bytes = DWORD(sizeof(EntryName));
  DWORD count = 0;
  DWORD status = enumerate(nullptr, nullptr, entries.data(), &bytes, &count);
  constexpr DWORD kBufferTooSmall = 603;  // ERROR_BUFFER_TOO_SMALL of <raserror.h>
  if (status == kBufferTooSmall && bytes > 0 && bytes < (1u << 24)) {
    entries.assign(bytes / sizeof(EntryName) + 1, EntryName{});
    entries[0].size = sizeof(EntryName);
    bytes = DWORD(entries.size() * sizeof(EntryName));
    status = enumerate(nullptr, nullptr, entries.data(), &bytes, &count);
  }
  if (status != ERROR_SUCCESS) return names;
  for (DWORD i = 0; i < count && i < entries.size(); ++i) {
    entries[i].name[256] = L'\0';
    if (entries[i].name[0] != L'\0') names.emplace_back(entries[i].name);
  }
  return names;
}

// Wine's ntdll exports wine_get_version; Windows' does not.
bool RunningUnderWine() {
  static const bool wine = [] {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }();
  return wine;
}

class RealInternetSettings final : public InternetSettings {
 public:
  std::vector<std::wstring> ConnectionEntries() override { return EnumerateConnectionEntries(); }

  bool Query(const std::wstring& connection, ConnectionProxy* settings) override {
    INTERNET_PER_CONN_OPTIONW options[3] = {};
    options[0].dwOption = INTERNET_PER_CONN_FLAGS;
    options[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
    options[2].dwOption = INTERNET_PER_CONN_PROXY_BYPASS;
    INTERNET_PER_CONN_OPTION_LISTW list{};
    list.dwSize = sizeof(list);
    list.pszConnection = connection.empty() ? nullptr : const_cast<wchar_t*>(connection.c_str());
    list.dwOptionCount = 3;
    list.pOptions = options;
    DWORD size = sizeof(list);
    if (!InternetQueryOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &size)) {
      return false;
    }
    // The texts are WinInet's allocations, null when the connection has none.
    auto take = [](wchar_t* text) {
      std::wstring out = text ? std::wstring(text) : std::wstring();
      if (text) GlobalFree(text);
      return out;
    };
    settings->flags = options[0].Value.dwValue;
    settings->server = take(options[1].Value.pszValue);
    settings->bypass = take(options[2].Value.pszValue);
    return true;
  }

  bool SetOptions(const std::wstring& connection, DWORD flags, const std::wstring* server,
                  const std::wstring* bypass) override {
    std::wstring server_text = server ? *server : std::wstring();
    std::wstring bypass_text = bypass ? *bypass : std::wstring();
    INTERNET_PER_CONN_OPTIONW options[3] = {};
    DWORD count = 0;
    options[count].dwOption = INTERNET_PER_CONN_FLAGS;
    options[count++].Value.dwValue = flags;
    if (server) {
      options[count].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
      options[count++].Value.pszValue = server_text.data();
    }
    if (bypass) {
      options[count].dwOption = INTERNET_PER_CONN_PROXY_BYPASS;
      options[count++].Value.pszValue = bypass_text.data();
    }
    INTERNET_PER_CONN_OPTION_LISTW list{};
    list.dwSize = sizeof(list);
    list.pszConnection = connection.empty() ? nullptr : const_cast<wchar_t*>(connection.c_str());
    list.dwOptionCount = count;
    list.pOptions = options;
    return InternetSetOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list,
                              sizeof(list)) != FALSE;
  }

  void AnnounceChange(const std::wstring& proxy_server) override {
    // Wine 8 frees fields of its previous process-wide proxy that it never
    // set, so a second INTERNET_OPTION_PROXY in one process can crash it. The
    // option only concerns this process's own sessions (every verification
    // fetch names its proxy), so under Wine it is left out; the registry
    // values and the per-connection settings are what browsers read.
    if (!RunningUnderWine()) {
      // INTERNET_PROXY_INFO with wide strings, as InternetSetOptionW reads it;
      // mingw's header declares only the TCHAR form.
      struct {
        DWORD dwAccessType;
        LPCWSTR lpszProxy;
        LPCWSTR lpszProxyBypass;
      } info{};
      // Empty: the proxy was cleared, and this process goes direct too.
      info.dwAccessType =
          proxy_server.empty() ? INTERNET_OPEN_TYPE_DIRECT : INTERNET_OPEN_TYPE_PROXY;
      info.lpszProxy = proxy_server.empty() ? nullptr : proxy_server.c_str();
      info.lpszProxyBypass = proxy_server.empty() ? nullptr : L"";
      InternetSetOptionW(nullptr, INTERNET_OPTION_PROXY, &info, sizeof(info));
    }
    InternetSetOptionW(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
  }

  void Refresh() override {
    // Wine answers 12018 (ERROR_INTERNET_INCORRECT_HANDLE_TYPE); harmless.
    InternetSetOptionW(nullptr, INTERNET_OPTION_REFRESH, nullptr, 0);
  }
};

}  // namespace

InternetSettings& WinInetSettings() {
  static RealInternetSettings settings;
  return settings;
}

DWORD ProxyFlagsAfterSwitch(DWORD current, bool proxy_on) {
  DWORD flags = current | PROXY_TYPE_DIRECT;
  return proxy_on ? (flags | PROXY_TYPE_PROXY) : (flags & ~DWORD(PROXY_TYPE_PROXY));
}

SystemProxyApplied SetSystemProxy(std::string_view text, const SystemProxyPlace& place) {
  return ApplySystemProxy(core::PlanSystemProxy(text), place);
}

SystemProxyApplied ApplySystemProxy(const core::SystemProxyChange& plan,
                                    const SystemProxyPlace& place) {
  SystemProxyApplied applied{plan, WinStatus::Ok()};
  const core::SystemProxyChange& change = applied.change;
  if (!change.accepted) return applied;
  applied.written = WriteValues(change, place);
  if (!applied.written.ok() || place.wininet == nullptr) return applied;
  // The whole ProxyServer text: the host alone would send this process's own
  // sessions (the exit check goes through the system's settings) to port 80.
  place.wininet->AnnounceChange(Utf8ToWide(change.proxy_server));
  // WinInet stores the per-connection settings in the same two values, in its
  // own way (Wine keeps only the HTTP entry of a per-protocol server and may
  // drop an empty one): write them again so that they read exactly as above,
  // and when clearing put the server text back as it was.
  std::optional<RegistryValue> server_before;
  if (!change.enable) server_before = ReadRegistryValue(place.root, place.key, kProxyServerValue);
  SetPerConnectionProxy(change, *place.wininet);
  WinStatus kept;
  if (!change.enable) {
    kept = RestoreRegistryValue(place.root, place.key, kProxyServerValue, server_before);
  }
  applied.written = WriteValues(change, place);
  // The server text going direct keeps is part of what was asked.
  if (applied.written.ok() && !kept.ok()) applied.written = kept;
  place.wininet->Refresh();
  return applied;
}

core::SystemProxyReadBack ReadSystemProxy(const SystemProxyPlace& place) {
  std::string server = ReadRegistryText(place.root, place.key, kProxyServerValue);
  std::string enable = ReadRegistryText(place.root, place.key, kProxyEnableValue);
  return core::ReadBackSystemProxy(server, enable);
}

void UserProxySettings::RecordOnce(const SystemProxyPlace& place) {
  if (!recorded_) Record(place);
}

void UserProxySettings::Record(const SystemProxyPlace& place) {
  server_ = ReadRegistryValue(place.root, place.key, kProxyServerValue);
  enable_ = ReadRegistryValue(place.root, place.key, kProxyEnableValue);
  connections_.clear();
  if (place.wininet != nullptr) {
    for (const std::wstring& connection : AllConnections(*place.wininet)) {
      ConnectionProxy settings;
      if (place.wininet->Query(connection, &settings))
        connections_.emplace_back(connection, settings);
    }
  }
  recorded_ = true;
}

namespace {

std::optional<core::SavedRegistryValue> SavedValue(const std::optional<RegistryValue>& value) {
  if (!value) return std::nullopt;
  return core::SavedRegistryValue{value->type, std::string(value->data.begin(), value->data.end())};
}

std::optional<RegistryValue> ValueFromSaved(const std::optional<core::SavedRegistryValue>& saved) {
  if (!saved) return std::nullopt;
  return RegistryValue{saved->type, std::vector<BYTE>(saved->bytes.begin(), saved->bytes.end())};
}

}  // namespace

core::SavedProxySetting UserProxySettings::Saved() const {
  core::SavedProxySetting saved;
  saved.proxy_server = SavedValue(server_);
  saved.proxy_enable = SavedValue(enable_);
  for (const auto& [name, settings] : connections_) {
    saved.connections.push_back({WideToUtf8(name), settings.flags, WideToUtf8(settings.server),
                                 WideToUtf8(settings.bypass)});
  }
  return saved;
}

UserProxySettings UserProxySettings::FromSaved(const core::SavedProxySetting& saved) {
  UserProxySettings settings;
  settings.server_ = ValueFromSaved(saved.proxy_server);
  settings.enable_ = ValueFromSaved(saved.proxy_enable);
  for (const core::SavedConnection& c : saved.connections) {
    settings.connections_.emplace_back(
        Utf8ToWide(c.name),
        ConnectionProxy{DWORD(c.flags), Utf8ToWide(c.server), Utf8ToWide(c.bypass)});
  }
  settings.recorded_ = true;
  return settings;
}

WinStatus UserProxySettings::Restore(const SystemProxyPlace& place) {
  if (!recorded_) return WinStatus::Ok();
  recorded_ = false;
  if (place.wininet != nullptr) {
    for (const auto& [connection, settings] : connections_) {
      // A refused entry is skipped; the others still get theirs back. The
      // program never changes a bypass list; an empty one is left unwritten,
      // since Wine would store it as a value the user never had.
      place.wininet->SetOptions(connection, settings.flags, &settings.server,
                                settings.bypass.empty() ? nullptr : &settings.bypass);
    }
  }
  // WinInet keeps the LAN's settings in the same two values and writes them
  // in its own way (it may drop a server it takes for empty): the values go
  // back last, exactly as they were.
  WinStatus written = RestoreRegistryValue(place.root, place.key, kProxyServerValue, server_);
  WinStatus enable = RestoreRegistryValue(place.root, place.key, kProxyEnableValue, enable_);
  if (written.ok()) written = enable;
  if (place.wininet != nullptr) {
    // This process's own sessions follow what is now in force.
    core::SystemProxyReadBack back = ReadSystemProxy(place);
    bool on = !back.current_proxy.empty();
    place.wininet->AnnounceChange(
        on ? Utf8ToWide(ReadRegistryText(place.root, place.key, kProxyServerValue)) : L"");
    place.wininet->Refresh();
  }
  return written;
}

}  // namespace win
