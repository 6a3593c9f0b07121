// Winsock before windows.h; iphlpapi.h after both.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
// clang-format on

#include "win/platform/client_owner.h"

#include <cstring>
#include <memory>
#include <vector>

#include "win/platform/unique_handle.h"

namespace win {
namespace {

// The connection table of `family` with each row's owner; empty when it cannot
// be read.
std::vector<char> ReadTable(ULONG family) {
  std::vector<char> table;
  DWORD size = 16 * 1024;
  for (int tries = 0; tries < 4; ++tries) {
    table.resize(size);
    DWORD status =
        GetExtendedTcpTable(table.data(), &size, FALSE, family, TCP_TABLE_OWNER_PID_CONNECTIONS, 0);
    if (status == NO_ERROR) return table;
    if (status != ERROR_INSUFFICIENT_BUFFER) break;
    size += 4096;  // the table may grow between the two calls
  }
  return {};
}

// The process whose connection runs from `client` to `local`; 0 when none is
// listed. Ports in the table are in network order, in the low 16 bits.
DWORD OwnerPid(const sockaddr_storage& client, const sockaddr_storage& local) {
  if (client.ss_family == AF_INET) {
    const auto& c = reinterpret_cast<const sockaddr_in&>(client);
    const auto& l = reinterpret_cast<const sockaddr_in&>(local);
    std::vector<char> bytes = ReadTable(AF_INET);
    if (bytes.empty()) return 0;
    const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(bytes.data());
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
      const MIB_TCPROW_OWNER_PID& row = table->table[i];
      if (row.dwLocalAddr == c.sin_addr.s_addr && u_short(row.dwLocalPort) == c.sin_port &&
          row.dwRemoteAddr == l.sin_addr.s_addr && u_short(row.dwRemotePort) == l.sin_port) {
        return row.dwOwningPid;
      }
    }
  } else if (client.ss_family == AF_INET6) {
    const auto& c = reinterpret_cast<const sockaddr_in6&>(client);
    const auto& l = reinterpret_cast<const sockaddr_in6&>(local);
    std::vector<char> bytes = ReadTable(AF_INET6);
    if (bytes.empty()) return 0;
    const auto* table = reinterpret_cast<const MIB_TCP6TABLE_OWNER_PID*>(bytes.data());
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
      const MIB_TCP6ROW_OWNER_PID& row = table->table[i];
      if (memcmp(row.ucLocalAddr, &c.sin6_addr, 16) == 0 &&
          u_short(row.dwLocalPort) == c.sin6_port &&
          memcmp(row.ucRemoteAddr, &l.sin6_addr, 16) == 0 &&
          u_short(row.dwRemotePort) == l.sin6_port) {
        return row.dwOwningPid;
      }
    }
  }
  return 0;
}

// The user SID of `process`'s token, in `buffer`; null when it cannot be read.
const SID_AND_ATTRIBUTES* TokenUserOf(HANDLE process, std::vector<char>* buffer) {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &raw)) return nullptr;
  UniqueKernelHandle token(raw);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  if (size == 0) return nullptr;
  buffer->resize(size);
  if (!GetTokenInformation(token.get(), TokenUser, buffer->data(), size, &size)) return nullptr;
  return &reinterpret_cast<const TOKEN_USER*>(buffer->data())->User;
}

}  // namespace

ClientOwner OwnerOfClient(const sockaddr_storage& client, const sockaddr_storage& local) {
  DWORD pid = OwnerPid(client, local);
  if (pid == 0) return ClientOwner::kUnknown;
  if (pid == GetCurrentProcessId()) return ClientOwner::kThisUser;
  UniqueKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  // Another user's process cannot be opened by this one (unless this one is an
  // administrator, when the token says whose it is).
  if (!process) {
    return GetLastError() == ERROR_INVALID_PARAMETER ? ClientOwner::kUnknown  // gone already
                                                     : ClientOwner::kOtherUser;
  }
  // This program's own user, read once: it does not change while it runs. The
  // SID is copied out (the token's buffer points into itself).
  static const std::vector<char> mine = [] {
    std::vector<char> buffer;
    const SID_AND_ATTRIBUTES* user = TokenUserOf(GetCurrentProcess(), &buffer);
    if (!user) return std::vector<char>();
    std::vector<char> sid(GetLengthSid(user->Sid));
    CopySid(DWORD(sid.size()), sid.data(), user->Sid);
    return sid;
  }();
  std::vector<char> theirs_buffer;
  const SID_AND_ATTRIBUTES* theirs = TokenUserOf(process.get(), &theirs_buffer);
  if (mine.empty()) return ClientOwner::kUnknown;
  if (!theirs) return ClientOwner::kOtherUser;
  return EqualSid(const_cast<char*>(mine.data()), theirs->Sid) ? ClientOwner::kThisUser
                                                               : ClientOwner::kOtherUser;
}

ClientOwnerCheck SystemOwnerCheck() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  bool wine = ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
  if (wine) return nullptr;
  return OwnerOfClient;
}

}  // namespace win
