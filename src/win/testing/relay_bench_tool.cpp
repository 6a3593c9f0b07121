// relaymoth-relay-bench.exe: measures the local relay under Wine against going
// straight to the same upstream proxy (the microsocks that scripts/verify-servers.sh
// starts; its port comes in RELAYMOTH_TEST_MICROSOCKS_PORT):
//   - the time of one request (connect, handshake, request, whole answer), relay
//     (asked in SOCKS5, and in HTTP CONNECT as the system setting asks) vs direct,
//     interleaved, p50 and p99;
//   - one tunnel's throughput, relay vs direct;
//   - 1,000 tunnels open at once: the process's threads and private memory.
// The page and bulk servers are the tool's own, on 127.0.0.1. Run it with
//   RELAYMOTH_TEST_EXE=build/win/bin/relaymoth-relay-bench.exe scripts/verify-wine-tests.sh
// A measuring tool, not a test.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <tlhelp32.h>
#define PSAPI_VERSION 2
#include <psapi.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "core/sysproxy/rotation.h"
#include "win/platform/relay_engine.h"
#include "win/platform/unique_socket.h"
#include "win/platform/win_clock.h"
#include "win/testing/loopback_client.h"

namespace {

using win::ConnectTo;
using win::SendAll;
using win::UniqueSocket;

constexpr char kPage[] = "HTTP/1.0 200 OK\r\nContent-Length: 512\r\n\r\n";

UniqueSocket Listener(uint16_t* port) {
  UniqueSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof(a);
  bind(s.get(), reinterpret_cast<sockaddr*>(&a), sizeof(a));
  listen(s.get(), SOMAXCONN);
  getsockname(s.get(), reinterpret_cast<sockaddr*>(&a), &length);
  *port = ntohs(a.sin_port);
  return s;
}

bool RecvExactly(SOCKET s, size_t count, std::string* out = nullptr) {
  char buf[65536];
  while (count > 0) {
    int n = recv(s, buf, static_cast<int>(std::min(count, sizeof(buf))), 0);
    if (n <= 0) return false;
    if (out) out->append(buf, n);
    count -= n;
  }
  return true;
}

size_t RecvAll(SOCKET s) {
  char buf[65536];
  size_t total = 0;
  for (;;) {
    int n = recv(s, buf, sizeof(buf), 0);
    if (n <= 0) return total;
    total += n;
  }
}

// The target: "P" answers a 512-byte page and closes; "B<n>" sends n bytes and
// closes; "H" holds the connection until the tool ends. One thread per
// connection: the target is not what is measured.
class Target {
 public:
  Target() {
    listener_ = Listener(&port_);
    thread_ = std::thread([this] { Accept(); });
  }
  ~Target() {
    stop_ = true;
    listener_.reset();
    thread_.join();
    for (std::thread& t : workers_) t.join();
  }
  uint16_t port() const { return port_; }

 private:
  void Accept() {
    while (!stop_) {
      fd_set set;
      FD_ZERO(&set);
      FD_SET(listener_.get(), &set);
      timeval wait{0, 20000};
      if (select(0, &set, nullptr, nullptr, &wait) <= 0) continue;
      SOCKET s = accept(listener_.get(), nullptr, nullptr);
      if (s == INVALID_SOCKET) continue;
      char first = 0;
      if (recv(s, &first, 1, 0) != 1) {
        closesocket(s);
        continue;
      }
      if (first == 'H') {
        held_.emplace_back(s);
      } else if (first == 'P') {
        std::string page = std::string(kPage) + std::string(512, 'x');
        SendAll(s, page);
        closesocket(s);
      } else {
        workers_.emplace_back([s] {
          char digits[32] = {};
          recv(s, digits, sizeof(digits) - 1, 0);
          size_t left = std::strtoull(digits, nullptr, 10);
          std::string block(65536, 'b');
          while (left > 0) {
            size_t n = std::min(left, block.size());
            if (!SendAll(s, block.substr(0, n))) break;
            left -= n;
          }
          closesocket(s);
        });
      }
    }
  }

  UniqueSocket listener_;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::vector<std::thread> workers_;
  std::vector<UniqueSocket> held_;
};

std::string Socks5Request(uint16_t port) {
  std::string m("\x05\x01\x00\x01\x7f\x00\x00\x01", 8);
  m += char(port >> 8);
  m += char(port & 0xff);
  return m;
}

// A tunnel to the target through a SOCKS5 proxy on `proxy` (microsocks or the
// relay), one message at a time: microsocks reads the greeting alone.
UniqueSocket OpenTunnel(uint16_t proxy, uint16_t target) {
  UniqueSocket s = ConnectTo(proxy, true);
  if (!s || !SendAll(s.get(), std::string("\x05\x01\x00", 3)) || !RecvExactly(s.get(), 2) ||
      !SendAll(s.get(), Socks5Request(target)) || !RecvExactly(s.get(), 10)) {
    s.reset();
  }
  return s;
}

// The same tunnel through the relay asked for as the system setting asks for it
// (HTTP CONNECT): the relay still speaks SOCKS5 to the proxy.
UniqueSocket OpenConnectTunnel(uint16_t relay, uint16_t target) {
  UniqueSocket s = ConnectTo(relay, true);
  std::string head;
  char buf[256];
  if (s && SendAll(s.get(), "CONNECT 127.0.0.1:" + std::to_string(target) + " HTTP/1.1\r\n\r\n")) {
    while (head.find("\r\n\r\n") == std::string::npos) {
      int n = recv(s.get(), buf, sizeof(buf), 0);
      if (n <= 0) break;
      head.append(buf, n);
    }
  }
  if (head.rfind("HTTP/1.1 200", 0) != 0) s.reset();
  return s;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, size_t(p * (v.size() - 1) + 0.5))];
}

int ThreadCount() {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 e{};
  e.dwSize = sizeof(e);
  int n = 0;
  for (BOOL ok = Thread32First(snap, &e); ok; ok = Thread32Next(snap, &e)) {
    if (e.th32OwnerProcessID == GetCurrentProcessId()) ++n;
  }
  CloseHandle(snap);
  return n;
}

// Committed memory (Wine leaves PrivateUsage at 0; PagefileUsage is the commit).
size_t PrivateBytes() {
  PROCESS_MEMORY_COUNTERS m{};
  GetProcessMemoryInfo(GetCurrentProcess(), &m, sizeof(m));
  return m.PagefileUsage;
}

}  // namespace

// What asking whose program a client is costs, on one connection to `relay`,
// with the machine's connection table as it is.
void OwnerCheckCost(uint16_t relay, const char* when) {
  UniqueSocket s = ConnectTo(relay, true);
  sockaddr_storage client{}, local{};
  int client_length = sizeof(client), local_length = sizeof(local);
  if (!s || getsockname(s.get(), reinterpret_cast<sockaddr*>(&client), &client_length) != 0 ||
      getpeername(s.get(), reinterpret_cast<sockaddr*>(&local), &local_length) != 0) {
    return;
  }
  const int kAsks = 50;
  int own = 0;
  double start = win::PreciseMs();
  for (int i = 0; i < kAsks; ++i) {
    own += win::OwnerOfClient(client, local) == win::ClientOwner::kThisUser;
  }
  double took = win::PreciseMs() - start;
  std::printf("owner check (%s): %.0f us each, %d of %d told this user\n", when,
              took * 1000 / kAsks, own, kAsks);
}

int wmain() {
  setvbuf(stdout, nullptr, _IONBF, 0);
  const char* upstream_text = std::getenv("RELAYMOTH_TEST_MICROSOCKS_PORT");
  if (!upstream_text) {
    std::printf(
        "RELAYMOTH_TEST_MICROSOCKS_PORT is not set (run under scripts/verify-wine-tests.sh)\n");
    return 2;
  }
  uint16_t upstream = static_cast<uint16_t>(std::atoi(upstream_text));
  win::WinsockScope wsa;
  Target target;
  win::RelayEngineOptions options;
  if (const char* buffer = std::getenv("RELAYMOTH_BENCH_PIPE_BUFFER")) {
    options.pipe_buffer = std::max(1024, std::atoi(buffer));
  }
  if (const char* buffer = std::getenv("RELAYMOTH_BENCH_BULK_BUFFER")) {
    options.bulk_buffer = std::max(1024, std::atoi(buffer));
  }
  win::RelayEngine engine(options);
  std::string error;
  if (!engine.Start(&error)) {
    std::printf("relay: %s\n", error.c_str());
    return 1;
  }
  auto route = std::make_shared<win::RelayRoute>();
  core::RelayCandidate c;
  c.upstream.proxy = {"127.0.0.1", upstream};
  c.upstream.protocol = core::ProxyProtocol::kSocks5;
  c.label = "microsocks";
  route->candidates.push_back(c);
  // RELAYMOTH_BENCH_ROTATE=1: each connection takes the next of three rows (all
  // the same proxy), as "每个连接换一个IP" does.
  auto rotation = std::make_shared<core::Rotation>();
  if (const char* rotate = std::getenv("RELAYMOTH_BENCH_ROTATE"); rotate && std::atoi(rotate)) {
    std::vector<core::RelayCandidate> pool(3, c);
    for (size_t i = 0; i < pool.size(); ++i) pool[i].row = 1 + i;
    rotation->SetPool(pool);
    route->choose = [rotation](const core::NetTarget& t) {
      return rotation->Choose(t.host, GetTickCount64());
    };
    std::printf("rotation over %zu rows\n", rotation->size());
  }
  // Clients are checked as the program's own relay checks them, unless
  // RELAYMOTH_BENCH_OWNER=0.
  const char* owner_text = std::getenv("RELAYMOTH_BENCH_OWNER");
  bool checks_owner = !owner_text || std::atoi(owner_text) != 0;
  uint16_t relay = engine.Listen(
      0, [route] { return std::shared_ptr<const win::RelayRoute>(route); }, nullptr, &error, false,
      checks_owner);
  if (relay == 0) {
    std::printf("relay: %s\n", error.c_str());
    return 1;
  }

  // 1. One request at a time, interleaved: straight to the proxy in SOCKS5, then
  // through the relay asked in SOCKS5 and in HTTP CONNECT.
  const char* requests_text = std::getenv("RELAYMOTH_BENCH_REQUESTS");
  const int kRequests = requests_text ? std::max(1, std::atoi(requests_text)) : 1000;
  std::vector<double> ms[3];
  for (int i = 0; i < kRequests; ++i) {
    for (int way = 0; way < 3; ++way) {
      double start = win::PreciseMs();
      UniqueSocket s = way == 2   ? OpenConnectTunnel(relay, target.port())
                       : way == 1 ? OpenTunnel(relay, target.port())
                                  : OpenTunnel(upstream, target.port());
      bool ok = s && SendAll(s.get(), "P") && RecvAll(s.get()) > 512;
      double took = win::PreciseMs() - start;
      if (ok) ms[way].push_back(took);
    }
  }
  const char* names[3] = {"direct (SOCKS5)", "relay asked in SOCKS5",
                          "relay asked in HTTP CONNECT"};
  std::printf("requests (connect + handshake + page), %d each:\n", kRequests);
  for (int way = 0; way < 3; ++way) {
    std::printf("  %-28s p50 %.3f ms p99 %.3f ms", names[way], Percentile(ms[way], 0.5),
                Percentile(ms[way], 0.99));
    if (way > 0) {
      std::printf("; added p50 %.3f ms p99 %.3f ms",
                  Percentile(ms[way], 0.5) - Percentile(ms[0], 0.5),
                  Percentile(ms[way], 0.99) - Percentile(ms[0], 0.99));
    }
    if (ms[way].size() != size_t(kRequests))
      std::printf(" (%zu failed)", kRequests - ms[way].size());
    std::printf("\n");
  }

  // 2. One tunnel's throughput, relay against direct in turns; the ratio's median
  // over the rounds (one round swings widely on a busy two-core machine).
  const size_t kBulk = size_t(256) << 20;
  const char* rounds_text = std::getenv("RELAYMOTH_BENCH_ROUNDS");
  const int kRounds = rounds_text ? std::max(1, std::atoi(rounds_text)) : 5;
  std::vector<double> ratios;
  for (int round = 0; round < kRounds; ++round) {
    double rate[2] = {0, 0};
    for (int via_relay = 0; via_relay < 2; ++via_relay) {
      UniqueSocket s = OpenTunnel(via_relay ? relay : upstream, target.port());
      double start = win::PreciseMs();
      std::string bulk = "B";
      bulk += std::to_string(kBulk);
      size_t got = s && SendAll(s.get(), bulk) ? RecvAll(s.get()) : 0;
      double took = win::PreciseMs() - start;
      rate[via_relay] = got == kBulk ? double(got) / (1 << 20) / (took / 1000) : 0;
    }
    double ratio = rate[0] > 0 ? 100 * rate[1] / rate[0] : 0;
    ratios.push_back(ratio);
    std::printf("one tunnel, 256 MiB: direct %.0f MiB/s, relay %.0f MiB/s (%.0f %%)\n", rate[0],
                rate[1], ratio);
  }
  std::printf("one tunnel: relay/direct median %.0f %% over %d rounds (lowest %.0f %%)\n",
              Percentile(ratios, 0.5), kRounds, Percentile(ratios, 0));

  std::printf("owner check of each client: %s\n", !checks_owner             ? "off"
                                                  : win::SystemOwnerCheck() ? "on"
                                                                            : "not asked (Wine)");
  OwnerCheckCost(relay, "a few connections open");

  // 3. 1,000 tunnels open at once.
  const int kTunnels = 1000;
  Sleep(200);
  int threads_before = ThreadCount();
  size_t memory_before = PrivateBytes();
  std::vector<UniqueSocket> tunnels;
  for (int i = 0; i < kTunnels; ++i) {
    UniqueSocket s = OpenTunnel(relay, target.port());
    if (!s || !SendAll(s.get(), "H")) break;
    tunnels.push_back(std::move(s));
  }
  Sleep(500);
  int threads_after = ThreadCount();
  size_t memory_after = PrivateBytes();
  std::printf(
      "%zu tunnels open: relay connections %zu, relay threads %d, process threads %d -> "
      "%d, private memory +%.1f MiB (%.1f KiB per tunnel, the tool's own client sockets "
      "included)\n",
      tunnels.size(), engine.open_connections(), win::RelayEngine::kThreads, threads_before,
      threads_after, double(memory_after - memory_before) / (1 << 20),
      tunnels.empty() ? 0.0 : double(memory_after - memory_before) / 1024 / tunnels.size());
  tunnels.clear();
  return 0;
}
