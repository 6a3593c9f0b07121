// UniqueSocket: sole ownership of one Winsock socket, closed exactly once with
// closesocket; move-only; any thread. It brings <winsock2.h>, which must come
// before <windows.h>: include this header ahead of any that brings the latter.
#pragma once

#include <winsock2.h>

#include "win/platform/unique_handle.h"

namespace win {

struct SocketTraits {
  using Handle = SOCKET;
  static Handle Invalid() { return INVALID_SOCKET; }
  static void Close(Handle s) { closesocket(s); }
};

using UniqueSocket = UniqueHandle<SocketTraits>;

// Winsock for the life of the scope; undone only when it was done. The count
// is per process, so scopes on several threads at once are fine.
class WinsockScope {
 public:
  WinsockScope() {
    WSADATA data;
    ok_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockScope() {
    if (ok_) WSACleanup();
  }
  WinsockScope(const WinsockScope&) = delete;
  WinsockScope& operator=(const WinsockScope&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

}  // namespace win
