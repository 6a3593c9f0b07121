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

}  // namespace win
