// Each connection's next deadline (its request, its proxy's connect and
// handshake, an idle tunnel, a held connection, a last reply) in one queue: the
// loop sleeps until the nearest and handles those due, whatever their number.
// clang-format off
#include "win/platform/relay_engine_internal.h"
// clang-format on

#include <algorithm>

namespace win {

using relay::ConnState;

void RelayEngine::Impl::SetDeadline(Connection* conn, uint64_t when) {
  deadlines_.Set(conn->timer, when);
}

uint64_t RelayEngine::Impl::IdleDeadline() const {
  return options_.idle_tunnel_ms ? relay::Now() + options_.idle_tunnel_ms : 0;
}

DWORD RelayEngine::Impl::WaitMs(uint64_t now) {
  uint64_t next = deadlines_.Next();
  if (next == 0) return INFINITE;
  if (next <= now) return 0;
  return static_cast<DWORD>(std::min<uint64_t>(next - now, INFINITE - 1));
}

void RelayEngine::Impl::FireDeadlines(uint64_t now) {
  while (std::optional<core::DeadlineQueue::Timer> timer = deadlines_.PopDue(now)) {
    Connection* conn = timer_owners_[*timer];
    if (!conn || conn->state == ConnState::kClosing) continue;
    Handle(conn, [&] {
      if (conn->state == ConnState::kFinishing || !conn->session) {
        CloseConnection(conn);
      } else {
        conn->session->OnTimedOut();
        Advance(conn);
      }
    });
  }
}

}  // namespace win
