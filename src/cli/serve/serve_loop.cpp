#include "cli/serve/serve_loop.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <sstream>
#include <thread>

#include "cli/checker/engine.h"
#include "cli/serve/status_page.h"
#include "core/base/deadline_queue.h"
#include "core/base/text.h"
#include "core/net/http_body.h"
#include "core/net/relay_session.h"

namespace cli {
namespace {

// Bytes waiting for one direction's destination before its source is read no
// more: a tunnel holds at most twice this however fast one side is.
constexpr size_t kPipeLimit = 128 * 1024;
constexpr size_t kReadChunk = 128 * 1024;
constexpr uint64_t kRequestMs = 30000;              // a client's whole request
constexpr uint64_t kUpstreamMs = 15000;             // one row's connect and handshake
constexpr uint64_t kIdleTunnelMs = 10 * 60 * 1000;  // a tunnel with no byte either way
constexpr uint64_t kFarewellMs = 2000;              // the last reply to a client
constexpr size_t kStatusHeadLimit = 8192;
constexpr uint64_t kListenPauseMs = 100;  // out of descriptors: accepts wait this long

// epoll keys: the fixed sources, then two a connection slot (client, upstream).
constexpr uint64_t kKeyListen = 0, kKeyStatus = 1, kKeySignals = 2, kKeyWake = 3, kKeyFirst = 4;

uint64_t NowMs64() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return uint64_t(t.tv_sec) * 1000 + uint64_t(t.tv_nsec) / 1000000;
}

// Bytes on their way to one socket; sent from the front.
class Buffer {
 public:
  size_t size() const { return data_.size() - off_; }
  bool empty() const { return size() == 0; }
  const char* front() const { return data_.data() + off_; }
  void Append(std::string_view bytes) { data_.append(bytes); }
  void Consume(size_t n) {
    off_ += n;
    if (off_ < data_.size()) return;
    // An idle tunnel keeps no buffer of the size a burst grew it to.
    if (data_.capacity() > kReadChunk) {
      std::string().swap(data_);
    } else {
      data_.clear();
    }
    off_ = 0;
  }
  void Clear() { Consume(size()); }

 private:
  std::string data_;
  size_t off_ = 0;
};

struct Conn {
  size_t slot = 0;
  bool closed = false;  // its slot is freed after the events at hand
  bool status = false;  // a status page request, not a client of the relay
  int client = -1;
  int upstream = -1;
  uint32_t client_mask = 0;  // the interest registered for each socket
  uint32_t upstream_mask = 0;
  std::unique_ptr<core::RelaySession> session;  // until the tunnel is up
  size_t connects_started = 0;
  size_t failures_seen = 0;
  bool connecting = false;
  bool piping = false;
  bool finishing = false;  // the last reply goes out, then the connection closes
  bool client_eof = false, upstream_eof = false;
  bool no_pool = false;  // the request came while no row was usable
  Buffer to_client, to_upstream;
  std::optional<core::HttpBodyReader> body;  // a plain request's body still due
  core::DeadlineQueue::Timer timer = 0;
  std::string head;  // a status request's bytes
};

std::string NoPoolReply() {
  std::string body = "relaymoth serve: no usable proxy in the pool right now\r\n";
  return "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain; charset=utf-8\r\n"
         "Retry-After: 60\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

class ServeLoop {
 public:
  ServeLoop(const ServeOptions& o, const Verifier& verify, std::ostream& err)
      : o_(o),
        verify_(verify),
        err_(err),
        pool_(o.rotate, o.rotate_seconds, o.sticky_minutes),
        tty_(isatty(STDERR_FILENO) == 1) {
    inbound_.listen_port = o.listen.port;
    inbound_.client_login = o.auth;
  }
  ~ServeLoop();
  bool Open(std::string* error);
  void Run();

 private:
  // Sockets and interest.
  int OpenListener(const core::NetTarget& at, std::string* error);
  void Watch(int fd, uint64_t key, uint32_t mask, uint32_t* registered);
  void UpdateInterest(Conn* c);
  // Events.
  void Accept(bool status);
  void OnEvent(Conn* c, bool upstream_side, uint32_t events);
  void ReadClient(Conn* c);
  void ReadUpstream(Conn* c);
  void Pipe(Conn* c, bool from_client, std::string_view first, ssize_t got);
  void Flush(Conn* c);
  bool SendFrom(int fd, Buffer& buffer, Conn* c);
  void ConnectDone(Conn* c);
  // The session's wishes.
  void Advance(Conn* c);
  void StartConnect(Conn* c);
  void ReportFailures(Conn* c);
  void Close(Conn* c);
  void FreeDead();
  void FireDeadlines(uint64_t now);
  // Verifications, signals, the terminal.
  void StartVerification();
  void VerificationDone();
  void OnSignals();
  void Say(const std::string& line);
  void Tick(uint64_t now);

  Conn* ConnOf(uint64_t key) const {
    Conn* c = conns_[(key - kKeyFirst) / 2].get();
    return c && !c->closed ? c : nullptr;
  }
  uint64_t Now() const { return now_; }

  const ServeOptions& o_;
  const Verifier& verify_;
  std::ostream& err_;
  ServePool pool_;
  ServeCounters counters_;
  core::RelayInboundOptions inbound_;
  bool tty_;
  uint64_t now_ = NowMs64();

  int epoll_ = -1, listen_ = -1, status_ = -1, signals_ = -1, wake_ = -1;
  uint32_t listen_mask_ = 0, status_mask_ = 0;
  uint64_t listen_paused_until_ = 0;
  std::vector<std::unique_ptr<Conn>> conns_;
  std::vector<size_t> free_slots_;
  std::vector<size_t> dead_slots_;  // closed during the events at hand
  std::vector<size_t> timer_slot_;  // by timer id
  core::DeadlineQueue deadlines_;
  Resolver literals_;  // turns the pool's IP literals into addresses; never looks a name up

  bool stopping_ = false;
  uint64_t drain_until_ = 0;
  uint64_t next_verify_ = 0;  // 0: none planned
  uint64_t next_tick_ = 0;
  uint64_t accepted_at_tick_ = 0;
  uint64_t last_tick_ = 0;
  bool line_shown_ = false;

  std::thread verifier_;
  bool verifying_ = false;
  bool verify_again_ = false;
  volatile std::sig_atomic_t verify_stop_ = 0;
  std::mutex verified_mutex_;
  std::optional<VerifiedPool> verified_;
};

ServeLoop::~ServeLoop() {
  if (verifier_.joinable()) {
    verify_stop_ = 1;
    verifier_.join();
  }
  for (std::unique_ptr<Conn>& c : conns_) {
    if (c) Close(c.get());
  }
  for (int fd : {epoll_, listen_, status_, signals_, wake_}) {
    if (fd >= 0) close(fd);
  }
}

int ServeLoop::OpenListener(const core::NetTarget& at, std::string* error) {
  sockaddr_storage a{};
  socklen_t len = 0;
  if (!literals_.Resolve(at.host, at.port, &a, &len)) {
    *error = "not an address: " + at.host;
    return -1;
  }
  int fd = socket(a.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  int one = 1;
  if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), len) != 0 || listen(fd, 1024) != 0) {
    *error = core::Format("cannot listen on %s:%u: %s", at.host.c_str(), unsigned(at.port),
                          std::strerror(errno));
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

bool ServeLoop::Open(std::string* error) {
  epoll_ = epoll_create1(EPOLL_CLOEXEC);
  wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  sigset_t set;
  sigemptyset(&set);
  for (int s : {SIGHUP, SIGTERM, SIGINT}) sigaddset(&set, s);
  signals_ = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  if (epoll_ < 0 || wake_ < 0 || signals_ < 0) {
    *error = std::string("cannot set up the event loop: ") + std::strerror(errno);
    return false;
  }
  listen_ = OpenListener(o_.listen, error);
  if (listen_ < 0) return false;
  if (!o_.status_off) {
    status_ = OpenListener(o_.status, error);
    if (status_ < 0) return false;
  }
  uint32_t none = 0;
  Watch(signals_, kKeySignals, EPOLLIN, &none);
  none = 0;
  Watch(wake_, kKeyWake, EPOLLIN, &none);
  Watch(listen_, kKeyListen, EPOLLIN, &listen_mask_);
  if (status_ >= 0) Watch(status_, kKeyStatus, EPOLLIN, &status_mask_);
  return true;
}

void ServeLoop::Watch(int fd, uint64_t key, uint32_t mask, uint32_t* registered) {
  if (fd < 0 || mask == *registered) return;
  epoll_event e{};
  e.events = mask;
  e.data.u64 = key;
  // A socket is added once with its first interest and only modified after.
  int op = *registered == 0 && mask != 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD;
  if (mask == 0) op = EPOLL_CTL_DEL;
  epoll_ctl(epoll_, op, fd, &e);
  *registered = mask;
}

void ServeLoop::UpdateInterest(Conn* c) {
  uint32_t client = 0, upstream = 0;
  core::RelayPhase phase = c->session ? c->session->phase() : core::RelayPhase::kPiping;
  if (c->status) {
    if (!c->finishing) client |= EPOLLIN;
  } else if (c->session) {
    // Until the tunnel is up the client is read only for its request; what it
    // sends after waits in the socket for the tunnel.
    if (phase == core::RelayPhase::kReadingRequest) client |= EPOLLIN;
    if (phase == core::RelayPhase::kHandshaking) upstream |= EPOLLIN;
  } else if (c->piping) {
    if (!c->client_eof && c->to_upstream.size() < kPipeLimit) client |= EPOLLIN;
    if (!c->upstream_eof && c->to_client.size() < kPipeLimit) upstream |= EPOLLIN;
  }
  if (!c->to_client.empty()) client |= EPOLLOUT;
  if (c->connecting || (!c->to_upstream.empty() && c->upstream >= 0)) upstream |= EPOLLOUT;
  uint64_t key = kKeyFirst + 2 * c->slot;
  // A socket with no interest leaves the set (one registered with none would
  // still report hang-ups) and comes back with its next interest.
  Watch(c->client, key, client, &c->client_mask);
  if (c->upstream >= 0) Watch(c->upstream, key + 1, upstream, &c->upstream_mask);
}

void ServeLoop::Accept(bool status) {
  for (;;) {
    int fd = accept4(status ? status_ : listen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // Out of descriptors: the listener rests a moment instead of waking the
        // loop again at once; the connections open go on.
        Watch(listen_, kKeyListen, 0, &listen_mask_);
        if (status_ >= 0) Watch(status_, kKeyStatus, 0, &status_mask_);
        listen_paused_until_ = Now() + kListenPauseMs;
      }
      return;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    size_t slot;
    if (!free_slots_.empty()) {
      slot = free_slots_.back();
      free_slots_.pop_back();
    } else {
      slot = conns_.size();
      conns_.emplace_back();
    }
    conns_[slot] = std::make_unique<Conn>();
    Conn* c = conns_[slot].get();
    c->slot = slot;
    c->status = status;
    c->client = fd;
    c->timer = deadlines_.Add();
    if (timer_slot_.size() <= c->timer) timer_slot_.resize(c->timer + 1);
    timer_slot_[c->timer] = slot;
    deadlines_.Set(c->timer, Now() + (status ? kFarewellMs * 2 : kRequestMs));
    if (!status) {
      ++counters_.accepted;
      ++counters_.open;
      c->session =
          std::make_unique<core::RelaySession>(inbound_, std::vector<core::RelayCandidate>());
      c->session->ChooseAtRequest([this, c](const core::NetTarget& target) {
        std::vector<core::RelayCandidate> chosen = pool_.Choose(target.host, Now());
        c->no_pool = chosen.empty();
        return chosen;
      });
    }
    UpdateInterest(c);
  }
}

void ServeLoop::OnEvent(Conn* c, bool upstream_side, uint32_t events) {
  if (upstream_side) {
    if (c->connecting) {
      ConnectDone(c);
    } else {
      if (events & (EPOLLIN | EPOLLHUP | EPOLLERR)) ReadUpstream(c);
      if (!c->closed && (events & EPOLLOUT)) Flush(c);
    }
  } else {
    if (events & (EPOLLIN | EPOLLHUP | EPOLLERR)) ReadClient(c);
    if (!c->closed && (events & EPOLLOUT)) Flush(c);
  }
  if (!c->closed) UpdateInterest(c);
}

void ServeLoop::ReadClient(Conn* c) {
  char buf[kReadChunk];
  size_t room = kReadChunk;
  if (c->piping) room = std::min(room, kPipeLimit - std::min(kPipeLimit, c->to_upstream.size()));
  if (c->status) room = kStatusHeadLimit;
  if (room == 0 || c->finishing) return;
  ssize_t n = recv(c->client, buf, room, 0);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (c->status) {
    if (n <= 0) return Close(c);
    c->head.append(buf, size_t(n));
    if (c->head.find("\r\n\r\n") != std::string::npos || c->head.size() > kStatusHeadLimit) {
      c->to_client.Append(StatusAnswer(c->head, counters_, pool_, Now()));
      c->finishing = true;
      Flush(c);
    }
    return;
  }
  if (c->session) {
    if (n > 0) {
      c->session->OnClientData(std::string_view(buf, size_t(n)));
    } else {
      c->session->OnClientClosed();
    }
    return Advance(c);
  }
  Pipe(c, true, std::string_view(buf, n < 0 ? 0 : size_t(n)), n);
}

void ServeLoop::ReadUpstream(Conn* c) {
  char buf[kReadChunk];
  size_t room = kReadChunk;
  if (c->piping) room = std::min(room, kPipeLimit - std::min(kPipeLimit, c->to_client.size()));
  if (room == 0) return;
  ssize_t n = recv(c->upstream, buf, room, 0);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (c->session) {
    if (n > 0) {
      c->session->OnUpstreamData(std::string_view(buf, size_t(n)));
    } else {
      c->session->OnUpstreamClosed();
    }
    return Advance(c);
  }
  if (c->piping) Pipe(c, false, std::string_view(buf, n < 0 ? 0 : size_t(n)), n);
}

// A tunnel's bytes from one side: `first` came from a recv that returned
// `got`; more are read while the other side takes them at once, a few reads
// at most before the loop serves other connections. Bytes go straight on
// when none wait before them, and only what the socket did not take is kept.
void ServeLoop::Pipe(Conn* c, bool from_client, std::string_view first, ssize_t got) {
  int from = from_client ? c->client : c->upstream;
  int to = from_client ? c->upstream : c->client;
  Buffer& out = from_client ? c->to_upstream : c->to_client;
  char buf[kReadChunk];
  std::string_view bytes = first;
  for (int round = 0;; ++round) {
    if (got < 0) return Close(c);
    if (got == 0) {
      (from_client ? c->client_eof : c->upstream_eof) = true;
      break;
    }
    (from_client ? counters_.bytes_up : counters_.bytes_down) += uint64_t(got);
    // A plain request's connection carries its request and body, never a
    // second request after it (the proxy was asked to close after its answer).
    if (from_client && c->body) {
      bytes = bytes.substr(0, c->body->done() ? 0 : c->body->Feed(bytes));
    }
    if (out.empty() && !bytes.empty()) {
      ssize_t sent = send(to, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (sent < 0 && errno != EAGAIN && errno != EINTR) return Close(c);
      if (sent > 0) bytes.remove_prefix(size_t(sent));
    }
    out.Append(bytes);
    if (!out.empty() || round == 3) break;
    got = recv(from, buf, kReadChunk, 0);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) break;
    bytes = std::string_view(buf, got < 0 ? 0 : size_t(got));
  }
  deadlines_.Set(c->timer, Now() + kIdleTunnelMs);
  Flush(c);
}

// Sends what it can; false when the socket failed (the connection is closed).
bool ServeLoop::SendFrom(int fd, Buffer& buffer, Conn* c) {
  while (!buffer.empty()) {
    ssize_t n = send(fd, buffer.front(), buffer.size(), MSG_NOSIGNAL);
    if (n > 0) {
      buffer.Consume(size_t(n));
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
    Close(c);
    return false;
  }
  return true;
}

void ServeLoop::Flush(Conn* c) {
  if (c->upstream >= 0 && !c->connecting && !SendFrom(c->upstream, c->to_upstream, c)) return;
  if (!SendFrom(c->client, c->to_client, c)) return;
  if (c->finishing) {
    if (c->to_client.empty()) Close(c);
    return;
  }
  if (!c->piping) return;
  // An end seen on one side goes on to the other once its bytes are through.
  if (c->client_eof && c->to_upstream.empty()) shutdown(c->upstream, SHUT_WR);
  if (c->upstream_eof && c->to_client.empty()) shutdown(c->client, SHUT_WR);
  bool up_done = c->client_eof && c->to_upstream.empty();
  bool down_done = c->upstream_eof && c->to_client.empty();
  if (up_done && down_done) Close(c);
}

void ServeLoop::ConnectDone(Conn* c) {
  int error = 0;
  socklen_t len = sizeof(error);
  getsockopt(c->upstream, SOL_SOCKET, SO_ERROR, &error, &len);
  sockaddr_storage peer{};
  socklen_t peer_len = sizeof(peer);
  // An event left over from a socket closed before (a failover's) finds this
  // one still connecting.
  if (error == EINPROGRESS ||
      (error == 0 && getpeername(c->upstream, reinterpret_cast<sockaddr*>(&peer), &peer_len) != 0 &&
       errno == ENOTCONN)) {
    return;
  }
  c->connecting = false;
  if (error != 0) {
    c->session->OnUpstreamConnectFailed();
  } else {
    c->session->OnUpstreamConnected();
  }
  Advance(c);
}

void ServeLoop::StartConnect(Conn* c) {
  if (c->upstream >= 0) {
    close(c->upstream);  // leaves the epoll set with it
    c->upstream = -1;
    c->upstream_mask = 0;
  }
  core::RelaySession& s = *c->session;
  c->connects_started = s.connects();
  c->to_upstream.Clear();
  c->to_upstream.Append(s.TakeUpstreamOutput());
  deadlines_.Set(c->timer, Now() + kUpstreamMs);
  const core::NetTarget& to = s.candidate().upstream.proxy;
  sockaddr_storage a{};
  socklen_t len = 0;
  int fd = -1;
  if (literals_.Resolve(to.host, to.port, &a, &len)) {
    fd = socket(a.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  }
  if (fd >= 0) {
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), len) == 0 || errno == EINPROGRESS) {
      c->upstream = fd;
      c->connecting = true;
      UpdateInterest(c);
      return;
    }
    close(fd);
  }
  s.OnUpstreamConnectFailed();
  Advance(c);
}

// A row that failed for its own fault leaves the rotation until its next check.
void ServeLoop::ReportFailures(Conn* c) {
  const std::vector<core::RelayAttemptFailure>& failures = c->session->failures();
  for (; c->failures_seen < failures.size(); ++c->failures_seen) {
    const core::RelayAttemptFailure& f = failures[c->failures_seen];
    if (!core::FailureBlamesProxy(f.failure)) continue;
    std::string label = pool_.LabelOf(f.row);
    if (pool_.Failed(f.row, f.text)) {
      Say(label + " failed a client (" + f.text + "): out of the rotation until its next check");
    }
  }
}

void ServeLoop::Advance(Conn* c) {
  core::RelaySession& s = *c->session;
  std::string to_client = s.TakeClientOutput();
  switch (s.phase()) {
    case core::RelayPhase::kReadingRequest:
    case core::RelayPhase::kHeld:
      break;
    case core::RelayPhase::kConnecting:
      if (s.connects() != c->connects_started) {
        c->to_client.Append(to_client);
        StartConnect(c);
        return;
      }
      c->to_upstream.Append(s.TakeUpstreamOutput());
      break;
    case core::RelayPhase::kHandshaking:
      c->to_upstream.Append(s.TakeUpstreamOutput());
      break;
    case core::RelayPhase::kPiping:
      c->to_upstream.Append(s.TakeUpstreamOutput());
      ReportFailures(c);
      ++counters_.carried;
      pool_.Carried(s.candidate().row);
      c->body = s.TakeRequestBody();
      c->session.reset();
      c->piping = true;
      deadlines_.Set(c->timer, Now() + kIdleTunnelMs);
      break;
    case core::RelayPhase::kClosing:
      ReportFailures(c);
      if (s.inbound().state() == core::InboundState::kRefused) {
        ++counters_.refused;
      } else if (c->no_pool) {
        ++counters_.refused;
        ++counters_.no_pool;
        // HTTP clients learn the pool is empty for now; SOCKS5 ones get the
        // general failure the session wrote.
        if (s.inbound().kind() != core::InboundKind::kSocks5Connect) to_client = NoPoolReply();
      } else if (s.inbound().state() == core::InboundState::kReady) {
        ++counters_.failed;
      }
      if (c->upstream >= 0) {
        close(c->upstream);
        c->upstream = -1;
        c->upstream_mask = 0;
      }
      c->connecting = false;
      c->finishing = true;
      deadlines_.Set(c->timer, Now() + kFarewellMs);
      break;
  }
  c->to_client.Append(to_client);
  Flush(c);
  if (!c->closed) UpdateInterest(c);
}

void ServeLoop::Close(Conn* c) {
  if (c->closed) return;
  c->closed = true;
  if (c->client >= 0) close(c->client);
  if (c->upstream >= 0) close(c->upstream);
  c->client = c->upstream = -1;
  if (!c->status) --counters_.open;
  deadlines_.Remove(c->timer);
  dead_slots_.push_back(c->slot);
}

void ServeLoop::FreeDead() {
  for (size_t slot : dead_slots_) {
    conns_[slot].reset();
    free_slots_.push_back(slot);
  }
  dead_slots_.clear();
}

void ServeLoop::FireDeadlines(uint64_t now) {
  while (std::optional<core::DeadlineQueue::Timer> timer = deadlines_.PopDue(now)) {
    Conn* c = conns_[timer_slot_[*timer]].get();
    if (!c || c->closed || c->timer != *timer) continue;
    if (c->session && !c->finishing) {
      c->session->OnTimedOut();
      Advance(c);
    } else {
      Close(c);
    }
  }
}

void ServeLoop::StartVerification() {
  if (verifying_ || stopping_) {
    verify_again_ = verifying_ && !stopping_;
    return;
  }
  verifying_ = true;
  counters_.verifying = true;
  verify_stop_ = 0;
  verifier_ = std::thread([this] {
    // The pool's checks give way to the clients' connections: on a busy
    // machine the relay's thread runs first (the threads the checks start
    // take this priority too). A refusal only leaves it as it was.
    setpriority(PRIO_PROCESS, gettid(), 10);
    VerifiedPool found = verify_(&verify_stop_);
    {
      std::lock_guard<std::mutex> lock(verified_mutex_);
      verified_ = std::move(found);
    }
    uint64_t one = 1;
    ssize_t ignored = write(wake_, &one, sizeof(one));
    (void)ignored;
  });
}

void ServeLoop::VerificationDone() {
  uint64_t count = 0;
  ssize_t ignored = read(wake_, &count, sizeof(count));
  (void)ignored;
  if (!verifying_) return;
  verifier_.join();
  verifying_ = false;
  counters_.verifying = false;
  std::optional<VerifiedPool> found;
  {
    std::lock_guard<std::mutex> lock(verified_mutex_);
    found.swap(verified_);
  }
  if (!found || stopping_) return;
  std::istringstream messages(found->messages);
  for (std::string line; std::getline(messages, line);) Say(line);
  next_verify_ = o_.verify_every_ms ? Now() + o_.verify_every_ms : 0;
  if (found->read) {
    pool_.Replace(std::move(found->rows));
    ++counters_.verifications;
    Say(core::Format(
        "verified %zu rows: %zu usable%s", pool_.rows().size(), pool_.usable(),
        pool_.usable() == 0 ? "; no usable row, clients are refused until one is" : ""));
  }
  if (verify_again_) {
    verify_again_ = false;
    StartVerification();
  }
}

void ServeLoop::OnSignals() {
  signalfd_siginfo info{};
  while (read(signals_, &info, sizeof(info)) == ssize_t(sizeof(info))) {
    if (info.ssi_signo == SIGHUP) {
      Say("SIGHUP: reading and verifying the lists again");
      StartVerification();
      continue;
    }
    if (stopping_) continue;
    stopping_ = true;
    drain_until_ = Now() + o_.drain_ms;
    verify_stop_ = 1;
    for (int* fd : {&listen_, &status_}) {
      if (*fd >= 0) close(*fd);
      *fd = -1;
    }
    Say(core::Format("stopping: no new clients; %llu open connections may go on for %u s",
                     static_cast<unsigned long long>(counters_.open), o_.drain_ms / 1000));
  }
}

void ServeLoop::Say(const std::string& line) {
  if (line_shown_) err_ << "\r\x1b[K";
  line_shown_ = false;
  err_ << "relaymoth-cli serve: " << line << "\n" << std::flush;
}

void ServeLoop::Tick(uint64_t now) {
  double seconds = std::max<double>(1, double(now - last_tick_)) / 1000;
  double rate = double(counters_.accepted - accepted_at_tick_) / seconds;
  accepted_at_tick_ = counters_.accepted;
  last_tick_ = now;
  next_tick_ = now + 1000;
  if (!tty_) return;
  err_ << "\r\x1b[K" << StatusLine(counters_, pool_, rate) << std::flush;
  line_shown_ = true;
}

void ServeLoop::Run() {
  Say(core::Format("listening on %s:%u (HTTP, CONNECT, SOCKS5%s)", o_.listen.host.c_str(),
                   unsigned(o_.listen.port), o_.auth ? ", log-in required" : ""));
  if (status_ >= 0) {
    Say(core::Format("status page on http://%s:%u/ and /metrics", o_.status.host.c_str(),
                     unsigned(o_.status.port)));
  }
  StartVerification();
  last_tick_ = now_;
  std::vector<epoll_event> events(256);
  for (;;) {
    now_ = NowMs64();
    if (stopping_ && (counters_.open == 0 || now_ >= drain_until_)) break;
    uint64_t wake = next_tick_;
    for (uint64_t t :
         {deadlines_.Next(), next_verify_, listen_paused_until_, stopping_ ? drain_until_ : 0}) {
      if (t != 0 && (wake == 0 || t < wake)) wake = t;
    }
    int timeout = wake == 0 ? -1 : int(std::min<uint64_t>(wake > now_ ? wake - now_ : 0, 60000));
    int n = epoll_wait(epoll_, events.data(), int(events.size()), timeout);
    now_ = NowMs64();
    for (int i = 0; i < n; ++i) {
      uint64_t key = events[i].data.u64;
      if (key == kKeyListen || key == kKeyStatus) {
        if (!stopping_) Accept(key == kKeyStatus);
      } else if (key == kKeySignals) {
        OnSignals();
      } else if (key == kKeyWake) {
        VerificationDone();
      } else if (Conn* c = ConnOf(key)) {
        OnEvent(c, (key - kKeyFirst) % 2 == 1, events[i].events);
      }
    }
    FireDeadlines(now_);
    FreeDead();
    if (listen_paused_until_ != 0 && now_ >= listen_paused_until_ && !stopping_) {
      listen_paused_until_ = 0;
      Watch(listen_, kKeyListen, EPOLLIN, &listen_mask_);
      if (status_ >= 0) Watch(status_, kKeyStatus, EPOLLIN, &status_mask_);
    }
    if (next_verify_ != 0 && now_ >= next_verify_) {
      next_verify_ = 0;
      StartVerification();
    }
    if (now_ >= next_tick_) Tick(now_);
  }
  if (line_shown_) err_ << "\n";
  if (counters_.open > 0) {
    Say(core::Format("%llu connections still open at the end of --drain are closed",
                     static_cast<unsigned long long>(counters_.open)));
  }
}

}  // namespace

int RunServeLoop(const ServeOptions& options, const Verifier& verify, std::ostream& err) {
  ServeLoop loop(options, verify, err);
  std::string error;
  if (!loop.Open(&error)) {
    err << "relaymoth-cli: " << error << "\n";
    return 2;
  }
  loop.Run();
  return 0;
}

}  // namespace cli
