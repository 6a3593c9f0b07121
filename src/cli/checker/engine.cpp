#include "cli/checker/engine.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>
#include <queue>
#include <set>
#include <thread>

#include "core/net/net_target.h"

namespace cli {
namespace {

// One connection of a task: the fetch it serves and its socket.
struct Conn {
  core::PageFetch* fetch = nullptr;
  int fd = -1;
  uint32_t generation = 0;  // grows with every connection the lane makes
  std::string unsent;
  bool connecting = false;
  bool watching_out = false;
};

struct Slot {
  std::unique_ptr<CheckTask> task;
  std::array<Conn, kTaskLanes> conns;
};

// Deadlines in 64-bit milliseconds, so that the heap's order never wraps.
struct Timer {
  uint64_t at;
  size_t slot;
  size_t lane;
  uint32_t generation;
};

struct TimerLater {
  bool operator()(const Timer& a, const Timer& b) const { return a.at > b.at; }
};

uint64_t NowMs64() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return uint64_t(t.tv_sec) * 1000 + uint64_t(t.tv_nsec) / 1000000;
}

// A fetch's 32-bit deadline on the 64-bit clock.
uint64_t Deadline64(uint32_t deadline) {
  uint64_t now = NowMs64();
  return now + uint64_t(int64_t(int32_t(deadline - uint32_t(now))));
}

std::vector<uint8_t> ToBytes(const sockaddr* a, socklen_t len) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(a);
  return std::vector<uint8_t>(p, p + len);
}

std::vector<uint8_t> Lookup(const std::string& host) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_family = AF_UNSPEC;
  addrinfo* list = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || !list) return {};
  // IPv4 first: most proxies and paths here are IPv4.
  const addrinfo* pick = list;
  for (const addrinfo* a = list; a; a = a->ai_next) {
    if (a->ai_family == AF_INET) {
      pick = a;
      break;
    }
  }
  std::vector<uint8_t> out = ToBytes(pick->ai_addr, pick->ai_addrlen);
  freeaddrinfo(list);
  return out;
}

std::string ErrnoReason(int e) {
  switch (e) {
    case ECONNREFUSED:
      return "connection refused";
    case ECONNRESET:
      return "connection reset";
    case ETIMEDOUT:
      return "connect timed out";
    case EHOSTUNREACH:
    case ENETUNREACH:
      return "no route to the proxy";
    default:
      return std::strerror(e);
  }
}

}  // namespace

uint32_t NowMs() { return uint32_t(NowMs64()); }

int RaiseFileLimit() {
  rlimit r{};
  if (getrlimit(RLIMIT_NOFILE, &r) != 0) return 1024;
  if (r.rlim_cur < r.rlim_max) {
    rlimit want = r;
    want.rlim_cur = r.rlim_max == RLIM_INFINITY ? 1 << 20 : r.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &want) == 0) r = want;
  }
  return r.rlim_cur > (1 << 30) ? 1 << 30 : int(r.rlim_cur);
}

bool Resolver::Resolve(const std::string& host, uint16_t port, sockaddr_storage* out,
                       socklen_t* len) {
  std::array<uint8_t, 16> bytes{};
  core::HostKind kind = core::ClassifyHost(host, &bytes);
  std::memset(out, 0, sizeof(*out));
  if (kind == core::HostKind::kIpv4) {
    auto* a = reinterpret_cast<sockaddr_in*>(out);
    a->sin_family = AF_INET;
    std::memcpy(&a->sin_addr, bytes.data(), 4);
    a->sin_port = htons(port);
    *len = sizeof(sockaddr_in);
    return true;
  }
  if (kind == core::HostKind::kIpv6) {
    auto* a = reinterpret_cast<sockaddr_in6*>(out);
    a->sin6_family = AF_INET6;
    std::memcpy(&a->sin6_addr, bytes.data(), 16);
    a->sin6_port = htons(port);
    *len = sizeof(sockaddr_in6);
    return true;
  }
  if (kind != core::HostKind::kName) return false;
  auto it = cache_.find(host);
  if (it == cache_.end()) it = cache_.emplace(host, Lookup(host)).first;
  if (it->second.empty() || it->second.size() > sizeof(*out)) return false;
  std::memcpy(out, it->second.data(), it->second.size());
  *len = socklen_t(it->second.size());
  if (out->ss_family == AF_INET) reinterpret_cast<sockaddr_in*>(out)->sin_port = htons(port);
  if (out->ss_family == AF_INET6) reinterpret_cast<sockaddr_in6*>(out)->sin6_port = htons(port);
  return true;
}

void Resolver::Prime(const std::vector<std::string>& hosts, int threads) {
  // Each name once: a list may write one name on thousands of rows.
  std::vector<std::string> names;
  std::set<std::string> seen;
  for (const std::string& h : hosts) {
    if (core::ClassifyHost(h) == core::HostKind::kName && !cache_.count(h) &&
        seen.insert(h).second) {
      names.push_back(h);
    }
  }
  std::mutex lock;
  size_t next = 0;
  std::vector<std::thread> pool;
  for (int t = 0; t < threads && size_t(t) < names.size(); ++t) {
    pool.emplace_back([&] {
      for (;;) {
        std::string name;
        {
          std::lock_guard<std::mutex> hold(lock);
          if (next >= names.size()) return;
          name = names[next++];
        }
        std::vector<uint8_t> found = Lookup(name);
        std::lock_guard<std::mutex> hold(lock);
        cache_[name] = std::move(found);
      }
    });
  }
  for (std::thread& t : pool) t.join();
}

bool Engine::Run(const std::function<std::unique_ptr<CheckTask>(uint32_t now)>& next,
                 const std::function<void(std::unique_ptr<CheckTask>)>& finished,
                 const EngineOptions& options, Resolver& resolver, std::string* error) {
  int ep = epoll_create1(EPOLL_CLOEXEC);
  if (ep < 0) {
    *error = std::string("epoll: ") + std::strerror(errno);
    return false;
  }
  std::vector<Slot> slots(size_t(std::max(1, options.in_flight)));
  std::vector<size_t> free_slots;
  for (size_t i = slots.size(); i-- > 0;) free_slots.push_back(i);
  std::priority_queue<Timer, std::vector<Timer>, TimerLater> timers;
  bool more = true;
  size_t active = 0;

  // An event names its slot, lane and the lane's connection, so that an event
  // still queued for a connection closed in the same round is not taken for the
  // lane's next one.
  auto tag = [](size_t slot, size_t lane, uint32_t generation) {
    return uint64_t(generation) << 32 | uint64_t(slot * kTaskLanes + lane);
  };

  auto close_conn = [&](Conn& c) {
    if (c.fd >= 0) close(c.fd);  // closing also removes it from the epoll set
    c.fd = -1;
    c.fetch = nullptr;
    ++c.generation;
    c.unsent.clear();
    c.unsent.shrink_to_fit();
    c.connecting = false;
    c.watching_out = false;
  };

  // Sends what the fetch has to send; keeps the rest for EPOLLOUT.
  auto flush = [&](size_t index, size_t lane) {
    Conn& c = slots[index].conns[lane];
    core::PageFetch* f = c.fetch;
    if (f) c.unsent += f->TakeOutput();
    while (!c.unsent.empty() && c.fd >= 0 && !c.connecting) {
      ssize_t n = send(c.fd, c.unsent.data(), c.unsent.size(), MSG_NOSIGNAL);
      if (n > 0) {
        c.unsent.erase(0, size_t(n));
        continue;
      }
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) break;
      if (f) f->OnEnd(NowMs(), ErrnoReason(errno));
      c.unsent.clear();
      break;
    }
    bool want_out = c.connecting || !c.unsent.empty();
    if (c.fd >= 0 && want_out != c.watching_out) {
      epoll_event ev{};
      ev.events = EPOLLIN | EPOLLRDHUP | (want_out ? uint32_t(EPOLLOUT) : 0u);
      ev.data.u64 = tag(index, lane, c.generation);
      epoll_ctl(ep, EPOLL_CTL_MOD, c.fd, &ev);
      c.watching_out = want_out;
    }
  };

  // Opens the connection a lane's fetch wants; a fetch that cannot even begin is
  // failed at once.
  auto connect_lane = [&](size_t index, size_t lane, core::PageFetch* f, uint32_t now) {
    Conn& c = slots[index].conns[lane];
    sockaddr_storage addr{};
    socklen_t len = 0;
    if (!resolver.Resolve(f->connect_to().host, f->connect_to().port, &addr, &len) ||
        f->connect_to().port == 0) {
      f->OnConnectFailed("address not found", now);
      return;
    }
    int fd = socket(addr.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      f->OnConnectFailed(std::string("no socket: ") + std::strerror(errno), now);
      return;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    c.fd = fd;
    c.fetch = f;
    int r = connect(fd, reinterpret_cast<sockaddr*>(&addr), len);
    if (r != 0 && errno != EINPROGRESS) {
      int e = errno;
      close_conn(c);
      f->OnConnectFailed(ErrnoReason(e), now);
      return;
    }
    c.connecting = r != 0;
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLRDHUP | (c.connecting ? uint32_t(EPOLLOUT) : 0u);
    ev.data.u64 = tag(index, lane, c.generation);
    c.watching_out = c.connecting;
    epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev);
    timers.push(Timer{Deadline64(f->deadline_ms()), index, lane, c.generation});
    if (!c.connecting) {
      f->OnConnected(now);
      flush(index, lane);
    }
  };

  // After any event: connections whose fetch is over or was dropped close, the
  // task moves on, and its new fetches connect; a task with no fetch left ends.
  auto settle = [&](size_t index, uint32_t now) {
    for (int guard = 0; guard < 64; ++guard) {
      Slot& s = slots[index];
      for (size_t lane = 0; lane < kTaskLanes; ++lane) {
        Conn& c = s.conns[lane];
        core::PageFetch* f = s.task->fetch(lane);
        // c.fetch is only compared: a dropped fetch is gone already.
        if (c.fetch && (c.fetch != f || f->done())) close_conn(c);
      }
      s.task->Advance(now);
      bool busy = false;
      bool started = false;
      for (size_t lane = 0; lane < kTaskLanes; ++lane) {
        Conn& c = s.conns[lane];
        core::PageFetch* f = s.task->fetch(lane);
        if (c.fetch && c.fetch != f) close_conn(c);
        if (!f) continue;
        busy = true;
        if (!c.fetch && !f->done()) {
          connect_lane(index, lane, f, now);
          started = true;
        }
      }
      if (!busy) {
        --active;
        finished(std::move(s.task));
        free_slots.push_back(index);
        return;
      }
      // A connect that failed at once has ended its fetch: go round again.
      if (!started) return;
    }
  };

  auto start_tasks = [&](uint32_t now) {
    while (more && !free_slots.empty()) {
      std::unique_ptr<CheckTask> task = next(now);
      if (!task) {
        more = false;
        break;
      }
      size_t index = free_slots.back();
      free_slots.pop_back();
      slots[index].task = std::move(task);
      ++active;
      settle(index, now);
    }
  };

  std::vector<epoll_event> events(1024);
  char buffer[16384];
  bool stopped = false;
  uint32_t last_tick = NowMs();
  start_tasks(NowMs());
  while (active > 0 || more) {
    if (options.stop && *options.stop) {
      stopped = true;
      break;
    }
    int wait = 250;
    if (!timers.empty()) {
      int64_t until = int64_t(timers.top().at) - int64_t(NowMs64());
      wait = int(std::clamp<int64_t>(until, 0, 250));
    }
    int n = epoll_wait(ep, events.data(), int(events.size()), wait);
    if (n < 0 && errno != EINTR) {
      *error = std::string("epoll_wait: ") + std::strerror(errno);
      stopped = true;
      break;
    }
    uint32_t now = NowMs();
    for (int i = 0; i < n; ++i) {
      uint64_t data = events[size_t(i)].data.u64;
      size_t index = size_t(data & 0xffffffffu) / kTaskLanes;
      size_t lane = size_t(data & 0xffffffffu) % kTaskLanes;
      Slot& s = slots[index];
      Conn& c = s.conns[lane];
      if (!s.task || c.fd < 0 || c.generation != uint32_t(data >> 32)) continue;
      core::PageFetch* f = c.fetch;
      uint32_t ev = events[size_t(i)].events;
      if (c.connecting) {
        if (!(ev & (EPOLLOUT | EPOLLERR | EPOLLHUP))) continue;
        int err = 0;
        socklen_t len = sizeof(err);
        getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &err, &len);
        if (err != 0) {
          f->OnConnectFailed(ErrnoReason(err), now);
          settle(index, now);
          continue;
        }
        c.connecting = false;
        f->OnConnected(now);
        flush(index, lane);
        settle(index, now);
        continue;
      }
      if (ev & EPOLLOUT) flush(index, lane);
      if (ev & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) {
        // Read what is there; a fetch that finishes stops the reading.
        for (int rounds = 0; rounds < 64 && c.fd >= 0 && !f->done(); ++rounds) {
          ssize_t got = recv(c.fd, buffer, sizeof(buffer), 0);
          if (got > 0) {
            f->OnReceived(std::string_view(buffer, size_t(got)), now);
            flush(index, lane);
            continue;
          }
          if (got == 0) {
            f->OnEnd(now);
          } else if (errno != EAGAIN && errno != EINTR) {
            f->OnEnd(now, ErrnoReason(errno));
          }
          break;
        }
      }
      settle(index, now);
    }
    // Deadlines: a fetch past its own fails; one that moved on is looked at again later.
    uint64_t now64 = NowMs64();
    now = uint32_t(now64);
    while (!timers.empty() && timers.top().at <= now64) {
      Timer t = timers.top();
      timers.pop();
      Slot& s = slots[t.slot];
      Conn& c = s.conns[t.lane];
      if (!s.task || c.generation != t.generation || c.fd < 0 || !c.fetch) continue;
      core::PageFetch* f = c.fetch;
      f->OnTick(now);
      if (f->done()) {
        settle(t.slot, now);
      } else {
        timers.push(Timer{Deadline64(f->deadline_ms()), t.slot, t.lane, t.generation});
      }
    }
    start_tasks(now);
    if (options.on_tick && uint32_t(now - last_tick) >= 200) {
      last_tick = now;
      options.on_tick(now);
    }
  }
  for (Slot& s : slots) {
    for (Conn& c : s.conns) close_conn(c);
  }
  close(ep);
  if (options.on_tick) options.on_tick(NowMs());
  return !stopped;
}

}  // namespace cli
