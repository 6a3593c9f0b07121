#include "win/platform/system_proxy.h"

// The one file of the program that talks to WinInet's options.
#include <wininet.h>

#include "win/platform/registry.h"
#include "win/platform/wide_text.h"

namespace win {
namespace {

void WriteValues(const core::SystemProxyChange& change, const SystemProxyPlace& place) {
  // Other programs read these two values; ProxyServer goes first so that a
  // reader never sees ProxyEnable 1 with the previous server.
  WriteRegistryString(place.root, place.key, "ProxyServer", change.proxy_server);
  WriteRegistryDword(place.root, place.key, "ProxyEnable", change.enable ? 1 : 0);
}

void SetPerConnectionProxy(const core::SystemProxyChange& change) {
  std::wstring server = Utf8ToWide(change.proxy_server);
  INTERNET_PER_CONN_OPTIONW options[2] = {};
  options[0].dwOption = INTERNET_PER_CONN_FLAGS;
  options[0].Value.dwValue =
      change.enable ? (PROXY_TYPE_DIRECT | PROXY_TYPE_PROXY) : PROXY_TYPE_DIRECT;
  options[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
  options[1].Value.pszValue = server.data();
  INTERNET_PER_CONN_OPTION_LISTW list{};
  list.dwSize = sizeof(list);
  list.pszConnection = nullptr;  // the LAN connection
  // Clearing leaves the server text alone in the per-connection copy; only the
  // flags say "direct".
  list.dwOptionCount = change.enable ? 2 : 1;
  list.pOptions = options;
  InternetSetOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, sizeof(list));
}

// Wine's ntdll exports wine_get_version; Windows' does not.
bool RunningUnderWine() {
  static const bool wine = [] {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }();
  return wine;
}

}  // namespace

core::SystemProxyChange SetSystemProxy(std::string_view text, const SystemProxyPlace& place) {
  core::SystemProxyChange change = core::PlanSystemProxy(text);
  if (!change.accepted) return change;
  WriteValues(change, place);
  if (!place.tell_wininet) return change;

  // Wine 8 frees fields of its previous process-wide proxy that it never set,
  // so a second INTERNET_OPTION_PROXY in one process can crash it. The option
  // only concerns this process's own sessions (every verification fetch names
  // its proxy), so under Wine it is left out; the registry values and the
  // per-connection settings below are what browsers read.
  if (!RunningUnderWine()) {
    std::wstring host = Utf8ToWide(change.host);
    // INTERNET_PROXY_INFO with wide strings, as InternetSetOptionW reads it; mingw's
    // header declares only the TCHAR form.
    struct {
      DWORD dwAccessType;
      LPCWSTR lpszProxy;
      LPCWSTR lpszProxyBypass;
    } info{};
    info.dwAccessType = INTERNET_OPEN_TYPE_PROXY;
    info.lpszProxy = host.c_str();
    info.lpszProxyBypass = L"";
    InternetSetOptionW(nullptr, INTERNET_OPTION_PROXY, &info, sizeof(info));
  }
  InternetSetOptionW(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);

  SetPerConnectionProxy(change);
  // WinInet stores the per-connection settings in the same two values (and may
  // drop an empty ProxyServer); write them again so that they read exactly as
  // above.
  WriteValues(change, place);
  // Wine answers 12018 (ERROR_INTERNET_INCORRECT_HANDLE_TYPE); harmless.
  InternetSetOptionW(nullptr, INTERNET_OPTION_REFRESH, nullptr, 0);
  return change;
}

core::SystemProxyReadBack ReadSystemProxy(const SystemProxyPlace& place) {
  std::string server = ReadRegistryText(place.root, place.key, "ProxyServer");
  std::string enable = ReadRegistryText(place.root, place.key, "ProxyEnable");
  return core::ReadBackSystemProxy(server, enable);
}

}  // namespace win
