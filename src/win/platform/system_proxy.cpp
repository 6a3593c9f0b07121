#include "win/platform/system_proxy.h"

// The one file of the program that talks to WinInet's options.
#include <wininet.h>

#include <vector>

#include "win/platform/registry.h"
#include "win/platform/wide_text.h"

namespace win {
namespace {

WinStatus WriteValues(const core::SystemProxyChange& change, const SystemProxyPlace& place) {
  // Other programs read these two values; ProxyServer goes first so that a
  // reader never sees ProxyEnable 1 with the previous server.
  WinStatus status = WriteRegistryString(place.root, place.key, "ProxyServer", change.proxy_server);
  if (!status.ok()) return status;
  return WriteRegistryDword(place.root, place.key, "ProxyEnable", change.enable ? 1 : 0);
}

void SetPerConnectionProxy(const core::SystemProxyChange& change, InternetSettings& wininet) {
  // Clearing leaves the server text alone in the per-connection copy; only the
  // flags say "direct".
  std::wstring server = Utf8ToWide(change.proxy_server);
  std::vector<std::wstring> connections = wininet.ConnectionEntries();
  connections.insert(connections.begin(), std::wstring());  // the LAN first, always
  for (const std::wstring& connection : connections) {
    DWORD flags = PROXY_TYPE_DIRECT;
    if (!wininet.QueryFlags(connection, &flags)) flags = PROXY_TYPE_DIRECT;
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

  bool QueryFlags(const std::wstring& connection, DWORD* flags) override {
    INTERNET_PER_CONN_OPTIONW option{};
    option.dwOption = INTERNET_PER_CONN_FLAGS;
    INTERNET_PER_CONN_OPTION_LISTW list{};
    list.dwSize = sizeof(list);
    list.pszConnection = connection.empty() ? nullptr : const_cast<wchar_t*>(connection.c_str());
    list.dwOptionCount = 1;
    list.pOptions = &option;
    DWORD size = sizeof(list);
    if (!InternetQueryOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &size)) {
      return false;
    }
    *flags = option.Value.dwValue;
    return true;
  }

  bool SetOptions(const std::wstring& connection, DWORD flags,
                  const std::wstring* server) override {
    std::wstring server_text = server ? *server : std::wstring();
    INTERNET_PER_CONN_OPTIONW options[2] = {};
    options[0].dwOption = INTERNET_PER_CONN_FLAGS;
    options[0].Value.dwValue = flags;
    options[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
    options[1].Value.pszValue = server_text.data();
    INTERNET_PER_CONN_OPTION_LISTW list{};
    list.dwSize = sizeof(list);
    list.pszConnection = connection.empty() ? nullptr : const_cast<wchar_t*>(connection.c_str());
    list.dwOptionCount = server ? 2 : 1;
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
      info.dwAccessType = proxy_server.empty() ? INTERNET_OPEN_TYPE_DIRECT : INTERNET_OPEN_TYPE_PROXY;
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
  SystemProxyApplied applied{core::PlanSystemProxy(text), WinStatus::Ok()};
  const core::SystemProxyChange& change = applied.change;
  if (!change.accepted) return applied;
  applied.written = WriteValues(change, place);
  if (!applied.written.ok() || place.wininet == nullptr) return applied;
  // The whole ProxyServer text: the host alone would send this process's own
  // sessions (the exit check goes through the system's settings) to port 80.
  place.wininet->AnnounceChange(Utf8ToWide(change.proxy_server));
  SetPerConnectionProxy(change, *place.wininet);
  // WinInet stores the per-connection settings in the same two values (and may
  // drop an empty ProxyServer); write them again so that they read exactly as
  // above.
  applied.written = WriteValues(change, place);
  place.wininet->Refresh();
  return applied;
}

core::SystemProxyReadBack ReadSystemProxy(const SystemProxyPlace& place) {
  std::string server = ReadRegistryText(place.root, place.key, "ProxyServer");
  std::string enable = ReadRegistryText(place.root, place.key, "ProxyEnable");
  return core::ReadBackSystemProxy(server, enable);
}

}  // namespace win
