// The relay's reads and sends: posting them, taking their ends before and after
// the tunnel is up, piping both directions, and the buffers they read into.
// clang-format off
#include "win/platform/relay_engine_internal.h"
// clang-format on

#include <new>
#include <string_view>

namespace win {
namespace {

// A grown buffer goes back to the small size after this many small reads in a row.
constexpr int kSmallReadsToShrink = 4;

}  // namespace

using relay::ConnState;

// --- buffers ---

bool relay::PipeBuffers::Give(Flow& flow, size_t size) {
  std::unique_ptr<char[]> buf;
  if (size > 0) {
    buf.reset(new (std::nothrow) char[size]);
    if (!buf) return false;
  }
  if (flow.cap > small_) used_ -= flow.cap;
  if (size > small_) used_ += size;
  grown_.store(used_, std::memory_order_relaxed);
  flow.buf = std::move(buf);
  flow.cap = size;
  return true;
}

// Under Wine every read and send is a round through the server, whatever its
// size: a flow whose reads fill its buffer reads into a larger one while the
// budget allows it, and goes back to the small one when its reads come in small
// again, so idle tunnels stay small. A buffer that cannot be had leaves the flow
// as it is.
void relay::PipeBuffers::Fit(Flow& flow) {
  if (flow.last_read == flow.cap && flow.cap < bulk_ && used_ + bulk_ <= budget_) {
    Give(flow, bulk_);
    flow.small_reads = 0;
  } else if (flow.cap > small_) {
    // One small read happens in a download too (the read that waited gets
    // what came first); a few in a row mean the bulk is over.
    flow.small_reads = flow.last_read < small_ / 2 ? flow.small_reads + 1 : 0;
    if (flow.small_reads >= kSmallReadsToShrink && Give(flow, small_)) flow.small_reads = 0;
  }
}

// --- operations ---

void RelayEngine::Impl::PostRecv(Connection* conn, Side& side, Flow& flow) {
  if (flow.recv_op.busy || conn->state == ConnState::kClosing) return;
  WSABUF b{static_cast<ULONG>(flow.cap), flow.buf.get()};
  DWORD flags = 0;
  DWORD got = 0;
  flow.recv_op.ov = OVERLAPPED{};
  int rc = WSARecv(side.get(), &b, 1, &got, &flags, &flow.recv_op.ov, nullptr);
  Posted(conn, flow.recv_op, rc == 0, got);
}

// Sends what `flow` holds to `side`, one send at a time.
void RelayEngine::Impl::PumpSend(Connection* conn, Side& side, Flow& flow) {
  if (flow.send_op.busy || conn->state == ConnState::kClosing || flow.Empty()) return;
  WSABUF b;
  if (flow.extra_off < flow.extra.size()) {
    b = {static_cast<ULONG>(flow.extra.size() - flow.extra_off),
         flow.extra.data() + flow.extra_off};
  } else {
    b = {static_cast<ULONG>(flow.len - flow.off), flow.buf.get() + flow.off};
  }
  flow.send_op.ov = OVERLAPPED{};
  DWORD sent = 0;
  int rc = WSASend(side.get(), &b, 1, &sent, 0, &flow.send_op.ov, nullptr);
  Posted(conn, flow.send_op, rc == 0, sent);
}

// Counts an operation as begun, given whether its call succeeded at once. One
// refused at once, or ended at once on a socket that skips the port, is handed
// to the engine loop's ready queue: it is handled where every other ending is,
// never inside the code that was acting on the connection when it was posted.
void RelayEngine::Impl::Posted(Connection* conn, Op& op, bool succeeded_now, DWORD bytes) {
  Side& side = SideOf(conn, op.kind);
  op.busy = true;
  ++side.pending;
  if (succeeded_now) {
    if (side.skips) ready_.push_back({&op, bytes, true});
  } else if (WSAGetLastError() != WSA_IO_PENDING) {
    ready_.push_back({&op, 0, false});
  }
}

// --- before the tunnel is up, and after ---

void RelayEngine::Impl::OnClientRecv(Connection* conn, DWORD bytes, bool ok) {
  if (conn->state == ConnState::kPiping) {
    OnPipeRecv(conn, conn->up, conn->upstream, bytes, ok);
    return;
  }
  if (!ok || bytes == 0) {
    conn->session->OnClientClosed();
  } else {
    conn->session->OnClientData(std::string_view(conn->up.buf.get(), bytes));
  }
  Advance(conn);
  if (conn->state != ConnState::kClosing && conn->session &&
      conn->session->phase() == core::RelayPhase::kReadingRequest) {
    PostRecv(conn, conn->client, conn->up);
  }
}

void RelayEngine::Impl::OnUpstreamRecv(Connection* conn, DWORD bytes, bool ok) {
  if (conn->state == ConnState::kPiping) {
    OnPipeRecv(conn, conn->down, conn->client, bytes, ok);
    return;
  }
  if (!ok || bytes == 0) {
    conn->session->OnUpstreamClosed();
  } else {
    conn->session->OnUpstreamData(std::string_view(conn->down.buf.get(), bytes));
  }
  Advance(conn);
}

// A send or a receive failed: before the tunnel is up the session hears that
// that side is gone (and may try the next proxy); after it, the connection ends.
void RelayEngine::Impl::SideFailed(Connection* conn, bool client_side) {
  if (conn->state == ConnState::kPiping || conn->state == ConnState::kFinishing || !conn->session) {
    CloseConnection(conn);
    return;
  }
  if (client_side) {
    conn->session->OnClientClosed();
  } else {
    conn->session->OnUpstreamClosed();
  }
  Advance(conn);
}

void RelayEngine::Impl::OnPipeRecv(Connection* conn, Flow& flow, Side& destination, DWORD bytes,
                                   bool ok) {
  if (!ok) {
    CloseConnection(conn);
    return;
  }
  flow.last_read = bytes;
  SetDeadline(conn, IdleDeadline());
  if (bytes == 0) {
    flow.eof = true;
  } else {
    flow.len = bytes;
    flow.off = 0;
  }
  if (bytes > 0 && &flow == &conn->up && conn->request_body) {
    // Past a plain request's body the client's bytes are dropped unread.
    flow.len = conn->request_body->Feed(std::string_view(flow.buf.get(), bytes));
    if (conn->request_body->failed()) {
      CloseConnection(conn);
      return;
    }
  }
  Drain(conn, flow, destination);
}

void RelayEngine::Impl::OnSent(Connection* conn, Flow& flow, DWORD bytes, bool ok) {
  if (!ok) {
    SideFailed(conn, &flow == &conn->down);
    return;
  }
  if (flow.extra_off < flow.extra.size()) {
    flow.extra_off += bytes;
    if (flow.extra_off >= flow.extra.size()) {
      flow.extra.clear();
      flow.extra_off = 0;
    }
  } else {
    flow.off += bytes;
    if (flow.off >= flow.len) flow.off = flow.len = 0;
  }
  bool to_client = &flow == &conn->down;
  Side& destination = to_client ? conn->client : conn->upstream;
  if (conn->state == ConnState::kFinishing && to_client) {
    if (flow.Empty()) {
      CloseConnection(conn);
    } else {
      PumpSend(conn, destination, flow);
    }
    return;
  }
  if (conn->state == ConnState::kPiping) {
    Drain(conn, flow, destination);
  } else {
    PumpSend(conn, destination, flow);
  }
}

// Moves a piped direction on: sends what it holds; once empty, passes the
// source's close on (a half close) or reads the source again.
void RelayEngine::Impl::Drain(Connection* conn, Flow& flow, Side& destination) {
  if (!flow.Empty()) {
    PumpSend(conn, destination, flow);
    return;
  }
  if (flow.send_op.busy) return;
  bool from_client = &flow == &conn->up;
  if (flow.eof) {
    if (!flow.shut) {
      shutdown(destination.get(), SD_SEND);
      flow.shut = true;
    }
    if (conn->up.shut && conn->down.shut) CloseConnection(conn);
    return;
  }
  buffers_.Fit(flow);
  PostRecv(conn, from_client ? conn->client : conn->upstream, flow);
}

}  // namespace win
