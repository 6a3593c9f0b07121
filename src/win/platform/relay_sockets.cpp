// The relay's sockets before they carry anything: addresses, socket options, and
// sockets made ready on the system thread pool ahead of need.
// clang-format off
#include "win/platform/relay_engine_internal.h"
// clang-format on

#include <cstring>

namespace win {
namespace relay {
namespace {

// An operation that ends at once is then handled by the engine thread straight
// away, without a round through the port (under Wine a round through the server).
bool SkipPortOnSuccess(SOCKET s) {
  return SetFileCompletionNotificationModes(reinterpret_cast<HANDLE>(s),
                                            FILE_SKIP_COMPLETION_PORT_ON_SUCCESS) != 0;
}

}  // namespace

bool ResolveAddress(const core::NetTarget& target, Address* out, bool numeric_only) {
  addrinfoW hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = numeric_only ? AI_NUMERICHOST : 0;
  std::wstring host(target.host.begin(), target.host.end());
  std::wstring port = std::to_wstring(target.port);
  addrinfoW* found = nullptr;
  if (GetAddrInfoW(host.c_str(), port.c_str(), &hints, &found) != 0) return false;
  bool ok = found && found->ai_addrlen <= sizeof(out->storage);
  if (ok) {
    memcpy(&out->storage, found->ai_addr, found->ai_addrlen);
    out->length = static_cast<int>(found->ai_addrlen);
  }
  FreeAddrInfoW(found);
  return ok;
}

// Bytes go on as soon as they arrive: the relay never holds a small piece back
// waiting for the peer's acknowledgement (the sender chose the piece's size).
bool NoDelay(SOCKET s) {
  BOOL on = TRUE;
  return setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof(on)) ==
         0;
}

// An accepted socket usually has it from the listener already; asking is cheaper
// than setting it again.
bool EnsureNoDelay(SOCKET s) {
  DWORD on = 0;
  int length = sizeof(on);
  if (getsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&on), &length) == 0 && on) {
    return true;
  }
  return NoDelay(s);
}

ReadySocket MakeSocket(HANDLE port, SocketUse use, int family) {
  ReadySocket made;
  made.socket.reset(WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED));
  if (!made.socket) return made;
  bool ok = true;
  if (use == SocketUse::kConnect) {
    sockaddr_storage any{};
    any.ss_family = static_cast<ADDRESS_FAMILY>(family);
    int any_length = family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    ok = NoDelay(made.socket.get()) &&
         bind(made.socket.get(), reinterpret_cast<sockaddr*>(&any), any_length) == 0;
  }
  // Tied to the port before use, an accepted socket keeps it: the socket given
  // to AcceptEx is the one that becomes the connection.
  ok = ok && CreateIoCompletionPort(reinterpret_cast<HANDLE>(made.socket.get()), port, kKeySocket,
                                    0) != nullptr;
  if (!ok) {
    made.socket.reset();
    return made;
  }
  made.skips = SkipPortOnSuccess(made.socket.get());
  return made;
}

// Making a socket ready (create, bind, tie to the port) takes several rounds
// through the Wine server, about 0.4 ms for a connect's socket: done on the
// system thread pool ahead of need, it is off the path of a request. The
// engine makes one itself when the stock is out.
ReadySocket SocketStock::Take(SocketUse use) {
  ReadySocket taken;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<ReadySocket>& stock = stock_[static_cast<int>(use)];
    if (!stock.empty()) {
      taken = std::move(stock.back());
      stock.pop_back();
    }
    if (!restocking_ && !closed_) {
      restocking_ =
          TrySubmitThreadpoolCallback(&SocketStock::RestockOnPool, this, nullptr) != FALSE;
    }
  }
  if (!taken.socket) taken = MakeSocket(port_, use, AF_INET);
  return taken;
}

void SocketStock::Close() {
  std::unique_lock<std::mutex> lock(mutex_);
  closed_ = true;
  restocked_.wait(lock, [this] { return !restocking_; });
}

void CALLBACK SocketStock::RestockOnPool(PTP_CALLBACK_INSTANCE, void* self) {
  static_cast<SocketStock*>(self)->Restock();
}

void SocketStock::Restock() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    int short_of = -1;
    for (int use = 0; use < 2 && short_of < 0; ++use) {
      if (stock_[use].size() < kStockSize) short_of = use;
    }
    if (short_of < 0 || closed_) break;
    lock.unlock();
    ReadySocket made = MakeSocket(port_, static_cast<SocketUse>(short_of), AF_INET);
    lock.lock();
    if (!made.socket) break;  // out of sockets: the engine makes its own
    stock_[short_of].push_back(std::move(made));
  }
  restocking_ = false;
  restocked_.notify_all();
}

}  // namespace relay
}  // namespace win
