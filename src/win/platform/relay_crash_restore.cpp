#include "win/platform/relay_crash_restore.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "win/platform/wide_text.h"

namespace win {
namespace {

struct PreparedValue {
  bool present = false;
  DWORD type = REG_NONE;
  std::vector<BYTE> bytes;
};

struct PreparedConnection {
  std::wstring name;
  DWORD flags = 0;
  std::wstring server;
  std::wstring bypass;
};

// Everything the handler needs, made while the program was healthy. The read
// buffers live here rather than on the stack: after a stack overflow only a
// few pages are left to the handler.
struct PreparedRestore {
  HKEY root = HKEY_CURRENT_USER;
  std::wstring key;
  uint16_t port = 0;
  PreparedValue server;
  PreparedValue enable;
  std::vector<PreparedConnection> connections;
  InternetSettings* wininet = nullptr;
  wchar_t read_server[1024] = {};
  char server_text[3 * 1024 + 1] = {};
  char enable_text[12] = {};
};

// Handing the prepared data over is one exchange, so a handler on another
// thread and the UI thread re-arming never share it.
std::atomic<PreparedRestore*> armed{nullptr};

PreparedValue Prepare(const std::optional<core::SavedRegistryValue>& saved) {
  PreparedValue value;
  if (saved) {
    value.present = true;
    value.type = saved->type;
    value.bytes.assign(saved->bytes.begin(), saved->bytes.end());
  }
  return value;
}

// A number as decimal text, without the C library's formatting.
void DecimalText(DWORD number, char* out) {
  char digits[11];
  int count = 0;
  do {
    digits[count++] = char('0' + number % 10);
    number /= 10;
  } while (number != 0);
  while (count > 0) *out++ = digits[--count];
  *out = '\0';
}

// The two values as the core reads them; anything unreadable reads as "".
bool StillPointsAtRelay(PreparedRestore& p) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(p.root, p.key.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  p.read_server[0] = L'\0';
  DWORD type = REG_NONE;
  DWORD size = sizeof(p.read_server) - sizeof(wchar_t);
  if (RegQueryValueExW(key, L"ProxyServer", nullptr, &type, reinterpret_cast<BYTE*>(p.read_server),
                       &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ)) {
    p.read_server[size / sizeof(wchar_t)] = L'\0';
  } else {
    p.read_server[0] = L'\0';
  }
  p.enable_text[0] = '\0';
  wchar_t enable_value[8] = {};
  size = sizeof(enable_value) - sizeof(wchar_t);
  if (RegQueryValueExW(key, L"ProxyEnable", nullptr, &type, reinterpret_cast<BYTE*>(enable_value),
                       &size) == ERROR_SUCCESS) {
    if (type == REG_DWORD && size == sizeof(DWORD)) {
      DWORD number = 0;
      memcpy(&number, enable_value, sizeof(number));
      DecimalText(number, p.enable_text);
    } else if (type == REG_SZ) {
      enable_value[size / sizeof(wchar_t)] = L'\0';
      WideCharToMultiByte(CP_UTF8, 0, enable_value, -1, p.enable_text, sizeof(p.enable_text),
                          nullptr, nullptr);
    }
  }
  RegCloseKey(key);
  if (WideCharToMultiByte(CP_UTF8, 0, p.read_server, -1, p.server_text, sizeof(p.server_text),
                          nullptr, nullptr) == 0) {
    return false;
  }
  return core::PointsAtRelay(p.server_text, p.enable_text, p.port);
}

void PutBack(const PreparedRestore& p) {
  if (p.wininet != nullptr) {
    // As at the exit: each connection first (a refused one is skipped), an
    // empty bypass list left unwritten.
    for (const PreparedConnection& c : p.connections) {
      p.wininet->SetOptions(c.name, c.flags, &c.server, c.bypass.empty() ? nullptr : &c.bypass);
    }
  }
  // WinInet writes the LAN's settings into the same two values in its own
  // way: they go back last, exactly as they were.
  HKEY key = nullptr;
  if (RegOpenKeyExW(p.root, p.key.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
  const std::pair<const wchar_t*, const PreparedValue*> values[] = {{L"ProxyServer", &p.server},
                                                                    {L"ProxyEnable", &p.enable}};
  for (const auto& [name, value] : values) {
    if (value->present) {
      RegSetValueExW(key, name, 0, value->type, value->bytes.data(), DWORD(value->bytes.size()));
    } else {
      RegDeleteValueW(key, name);
    }
  }
  RegCloseKey(key);
}

LPTOP_LEVEL_EXCEPTION_FILTER previous_filter = nullptr;
std::terminate_handler previous_terminate = nullptr;

LONG WINAPI CrashFilter(EXCEPTION_POINTERS* info) {
  RunCrashRestore();
  return previous_filter != nullptr ? previous_filter(info) : EXCEPTION_CONTINUE_SEARCH;
}

void CrashTerminate() {
  RunCrashRestore();
  if (previous_terminate != nullptr) previous_terminate();
  std::abort();
}

}  // namespace

void ArmCrashRestore(const core::RelayRecord& record, const SystemProxyPlace& place) {
  auto prepared = new PreparedRestore;
  prepared->root = place.root;
  prepared->key = Utf8ToWide(place.key);
  prepared->port = record.port;
  prepared->server = Prepare(record.before.proxy_server);
  prepared->enable = Prepare(record.before.proxy_enable);
  for (const core::SavedConnection& c : record.before.connections) {
    prepared->connections.push_back(
        {Utf8ToWide(c.name), DWORD(c.flags), Utf8ToWide(c.server), Utf8ToWide(c.bypass)});
  }
  prepared->wininet = place.wininet;
  delete armed.exchange(prepared);
}

void DisarmCrashRestore() { delete armed.exchange(nullptr); }

bool RunCrashRestore() {
  PreparedRestore* prepared = armed.exchange(nullptr);
  if (prepared == nullptr) return false;
  bool restored = StillPointsAtRelay(*prepared);
  if (restored) PutBack(*prepared);
  // Freed only now: should a damaged heap end the process here, the setting
  // is back already.
  delete prepared;
  return restored;
}

void InstallCrashRestoreHandlers() {
  previous_filter = SetUnhandledExceptionFilter(CrashFilter);
  previous_terminate = std::set_terminate(CrashTerminate);
}

}  // namespace win
