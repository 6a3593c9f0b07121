// RelayEngine over real sockets: clients of the test's own talk HTTP and SOCKS5 to
// the relay, which carries them through the SOCKS and HTTP proxies that
// scripts/verify-servers.sh starts (microsocks with and without a log-in, dante,
// tinyproxy with and without one) to the local web page, and through hostile
// proxies of the test's own. All on 127.0.0.1.
// Winsock before windows.h.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on

#include "win/platform/relay_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/net/net_testing.h"
#include "core/verify/verify_run.h"
#include "core/verify/verify_testing.h"
#include "win/platform/unique_socket.h"
#include "win/platform/win_clock.h"
#include "win/platform/wininet_site_fetcher.h"
#include "win/testing/loopback_client.h"
#include "win/testing/test_servers.h"

namespace win {
namespace {

constexpr const char* kVerifyText = "RELAYMOTH-VERIFY-7731";

uint16_t PortOf(const char* name) {
  return static_cast<uint16_t>(std::atoi(TestPort(name).c_str()));
}

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

core::RelayCandidate Upstream(core::ProxyProtocol protocol, uint16_t port, bool login = false) {
  core::RelayCandidate c;
  c.upstream.proxy = {"127.0.0.1", port};
  c.upstream.protocol = protocol;
  if (login) {
    c.upstream.credentials = core::ProxyCredentials{Env("RELAYMOTH_TEST_PROXY_USER"),
                                                    Env("RELAYMOTH_TEST_PROXY_PASSWORD")};
  }
  c.label = "127.0.0.1:" + std::to_string(port);
  return c;
}

// The same proxy named "localhost" (the hosts file answers; no lookup leaves
// the machine).
core::RelayCandidate ByName(core::RelayCandidate c) {
  c.upstream.proxy.host = "localhost";
  return c;
}

core::RelayCandidate WithRow(core::RelayCandidate c, uint64_t row) {
  c.row = row;
  return c;
}

// Exactly `count` bytes (fewer when the peer closes or 10 s pass).
std::string ReadExactly(SOCKET s, size_t count) {
  std::string all;
  char buf[16384];
  while (all.size() < count) {
    int n = recv(s, buf, static_cast<int>(std::min(sizeof(buf), count - all.size())), 0);
    if (n <= 0) break;
    all.append(buf, n);
  }
  return all;
}

// A reply head, up to its blank line, read a byte at a time so that nothing
// after it is taken.
std::string ReadHead(SOCKET s) {
  std::string head;
  char c;
  while (head.find("\r\n\r\n") == std::string::npos && recv(s, &c, 1, 0) == 1) head += c;
  return head;
}

// Waits up to 10 s for `done`.
bool Eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 1000; ++i) {
    if (done()) return true;
    Sleep(10);
  }
  return done();
}

// The relay with a route the test sets and the reports it made.
class TestRelay {
 public:
  explicit TestRelay(RelayEngineOptions options = {}, bool checks_owner = false)
      : engine_(options) {
    std::string error;
    EXPECT_TRUE(engine_.Start(&error)) << error;
    port_ = engine_.Listen(
        0,
        [this] {
          std::lock_guard<std::mutex> lock(mutex_);
          return route_;
        },
        [this](RelayReport report) {
          std::lock_guard<std::mutex> lock(mutex_);
          reports_.push_back(std::move(report));
        },
        &error, false, checks_owner);
    EXPECT_NE(port_, 0) << error;
  }

  void SetRoute(std::vector<core::RelayCandidate> candidates) {
    auto route = std::make_shared<RelayRoute>();
    route->candidates = std::move(candidates);
    std::lock_guard<std::mutex> lock(mutex_);
    route_ = route;
  }

  // Waits until `count` reports have come, then takes them.
  std::vector<RelayReport> TakeReports(size_t count) {
    for (int i = 0; i < 500; ++i) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (reports_.size() >= count) return std::exchange(reports_, {});
      }
      Sleep(10);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(reports_, {});
  }

  // Waits until every connection is gone.
  bool Idle() {
    return Eventually([this] { return engine_.open_connections() == 0; });
  }

  uint16_t port() const { return port_; }
  RelayEngine& engine() { return engine_; }

 private:
  std::mutex mutex_;
  std::shared_ptr<const RelayRoute> route_;
  std::vector<RelayReport> reports_;
  uint16_t port_ = 0;
  // Last, so that it goes first: the engine thread reads the route (a connection
  // opened ahead after the test's last tunnel) until the engine has stopped.
  RelayEngine engine_;
};

// A server of the test's own on 127.0.0.1: each connection it accepts goes to
// `serve`, on the server's one thread, until the server goes.
class LoopbackServer {
 public:
  explicit LoopbackServer(std::function<void(UniqueSocket)> serve) : serve_(std::move(serve)) {
    listener_.reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(a);
    bind(listener_.get(), reinterpret_cast<sockaddr*>(&a), sizeof(a));
    listen(listener_.get(), SOMAXCONN);
    getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&a), &length);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] {
      while (!stop_) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(listener_.get(), &set);
        timeval wait{0, 50000};
        if (select(0, &set, nullptr, nullptr, &wait) <= 0) continue;
        UniqueSocket s(accept(listener_.get(), nullptr, nullptr));
        if (s) serve_(std::move(s));
      }
    });
  }
  ~LoopbackServer() {
    stop_ = true;
    thread_.join();
  }
  uint16_t port() const { return port_; }

 private:
  WinsockScope wsa_;
  std::function<void(UniqueSocket)> serve_;
  UniqueSocket listener_;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A proxy that misbehaves: each connection it accepts gets the next behaviour of
// its list in turn.
class HostileProxy {
 public:
  enum Behaviour { kCloseAtOnce, kHalfSocks5Reply, kGarbage, kSilent };

  explicit HostileProxy(std::vector<Behaviour> behaviours)
      : behaviours_(std::move(behaviours)),
        server_([this](UniqueSocket s) { Serve(std::move(s)); }) {}
  uint16_t port() const { return server_.port(); }

 private:
  void Serve(UniqueSocket s) {
    Behaviour b = behaviours_[next_++ % behaviours_.size()];
    char buf[512];
    DWORD timeout = 2000;
    setsockopt(s.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
               sizeof(timeout));
    switch (b) {
      case kCloseAtOnce:
        break;
      case kHalfSocks5Reply:
        recv(s.get(), buf, sizeof(buf), 0);
        SendAll(s.get(), std::string("\x05", 1));
        break;
      case kGarbage:
        recv(s.get(), buf, sizeof(buf), 0);
        SendAll(s.get(), "+OK POP3 server ready\r\n");
        break;
      case kSilent:
        held_.push_back(std::move(s));
        break;
    }
  }

  std::vector<Behaviour> behaviours_;
  size_t next_ = 0;
  std::vector<UniqueSocket> held_;
  LoopbackServer server_;  // last: its thread ends before the rest goes
};

// A target that sends every connection back what it sends, until it closes.
class EchoTarget {
 public:
  EchoTarget()
      : server_(std::make_unique<LoopbackServer>([this](UniqueSocket s) {
          echoes_.emplace_back([owned = std::move(s)] {
            char buf[16384];
            for (int n; (n = recv(owned.get(), buf, sizeof(buf), 0)) > 0;) {
              if (!SendAll(owned.get(), std::string_view(buf, n))) break;
            }
          });
        })) {}
  ~EchoTarget() {
    server_.reset();  // no more echoes start
    for (std::thread& t : echoes_) t.join();
  }
  uint16_t port() const { return server_->port(); }

 private:
  std::vector<std::thread> echoes_;
  std::unique_ptr<LoopbackServer> server_;
};

std::string WebTarget() { return "127.0.0.1:" + TestPort("WEB"); }

std::string PlainGet() {
  return "GET http://" + WebTarget() + "/verify.html HTTP/1.1\r\nHost: " + WebTarget() +
         "\r\nProxy-Connection: keep-alive\r\n\r\n";
}

std::string ConnectGet() {
  return "CONNECT " + WebTarget() + " HTTP/1.1\r\nHost: " + WebTarget() +
         "\r\n\r\nGET /verify.html HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
}

std::string Socks5Get() {
  uint16_t web = PortOf("WEB");
  return core::Bytes("05 01 00 05 01 00 01 7f 00 00 01") + char(web >> 8) + char(web & 0xff) +
         "GET /verify.html HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
}

TEST(RelayEngineTest, CarriesEveryClientThroughEveryRealProxy) {
  REQUIRE_TEST_PORTS("WEB", "MICROSOCKS", "MICROSOCKS_AUTH", "DANTE", "TINYPROXY",
                     "TINYPROXY_AUTH");
  using P = core::ProxyProtocol;
  struct Case {
    const char* name;
    core::RelayCandidate upstream;
    bool keeps_half_close;  // microsocks ends both ways when its client half-closes
  };
  const Case upstreams[] = {
      {"microsocks", Upstream(P::kSocks5, PortOf("MICROSOCKS")), false},
      {"microsocks with a log-in", Upstream(P::kSocks5, PortOf("MICROSOCKS_AUTH"), true), false},
      {"microsocks by name (looked up off the engine thread)",
       ByName(Upstream(P::kSocks5, PortOf("MICROSOCKS"))), false},
      {"dante as SOCKS5", Upstream(P::kSocks5, PortOf("DANTE")), true},
      {"dante as SOCKS4", Upstream(P::kSocks4, PortOf("DANTE")), true},
      {"dante as SOCKS4a", Upstream(P::kSocks4a, PortOf("DANTE")), true},
      {"tinyproxy", Upstream(P::kHttp, PortOf("TINYPROXY")), true},
      {"tinyproxy with a log-in", Upstream(P::kHttp, PortOf("TINYPROXY_AUTH"), true), true},
  };
  struct Client {
    const char* name;
    std::string request;
    bool half_close;
  };
  const Client clients[] = {
      {"plain HTTP request", PlainGet(), false},
      {"plain HTTP request, then a half close", PlainGet(), true},
      {"CONNECT with the request right behind it", ConnectGet(), false},
      {"SOCKS5 in one piece", Socks5Get(), false},
  };
  TestRelay relay;
  for (const Case& u : upstreams) {
    relay.SetRoute({u.upstream});
    for (const Client& c : clients) {
      if (c.half_close && !u.keeps_half_close) continue;
      SCOPED_TRACE(std::string(u.name) + " / " + c.name);
      std::string answer = Exchange(relay.port(), c.request, c.half_close);
      EXPECT_NE(answer.find(kVerifyText), std::string::npos) << core::Shown(answer.substr(0, 300));
    }
  }
  EXPECT_TRUE(relay.TakeReports(0).empty());
  EXPECT_TRUE(relay.Idle());
}

// Tunnels whose reads fill their buffers move to larger ones while the budget
// allows, and back when their reads come in small: every byte still arrives in
// order, the grown buffers never hold more than the budget, and all of it is
// given back when the tunnels end (else no tunnel could grow again).
TEST(RelayEngineTest, BulkBothWaysArrivesWholeWhileBuffersGrowWithinTheirBudget) {
  REQUIRE_TEST_PORTS("MICROSOCKS");
  RelayEngineOptions options;
  options.pipe_buffer = 2048;
  options.bulk_buffer = 32768;
  options.bulk_budget = 2 * 32768;  // two of the six directions may grow at once
  TestRelay relay(options);
  relay.SetRoute({Upstream(core::ProxyProtocol::kSocks5, PortOf("MICROSOCKS"))});
  EchoTarget echo;
  std::atomic<bool> running{true};
  std::atomic<size_t> most_grown{0};
  std::thread watch([&] {
    while (running) {
      size_t now = relay.engine().grown_buffer_bytes();
      if (now > most_grown) most_grown = now;
      Sleep(1);
    }
  });
  constexpr size_t kBulk = 2 << 20;
  std::vector<std::string> results(3);
  std::vector<UniqueSocket> open(3);
  std::vector<std::thread> tunnels;
  for (int t = 0; t < 3; ++t) {
    tunnels.emplace_back([&, t] {
      std::string pattern(kBulk, '\0');
      uint32_t x = 2654435761u * (t + 1);
      for (char& ch : pattern) {
        x = x * 1103515245u + 12345u;
        ch = static_cast<char>(x >> 24);
      }
      UniqueSocket s = ConnectTo(relay.port());
      std::string connect =
          "CONNECT 127.0.0.1:" + std::to_string(echo.port()) + " HTTP/1.1\r\n\r\n";
      std::string head = s && SendAll(s.get(), connect) ? ReadHead(s.get()) : "";
      if (head.rfind("HTTP/1.1 200", 0) != 0) {
        results[t] = "no tunnel: " + head;
        return;
      }
      std::thread sender([&] { SendAll(s.get(), pattern); });
      std::string back = ReadExactly(s.get(), kBulk);
      sender.join();
      if (back != pattern) {
        size_t at = 0;
        while (at < back.size() && back[at] == pattern[at]) ++at;
        results[t] = "damaged at byte " + std::to_string(at) + " of " + std::to_string(back.size());
        return;
      }
      // Small exchanges after the bulk: both directions go back to small buffers.
      for (int i = 0; i < 10; ++i) {
        std::string ping = "ping " + std::to_string(i);
        if (!SendAll(s.get(), ping) || ReadExactly(s.get(), ping.size()) != ping) {
          results[t] = "ping " + std::to_string(i) + " lost";
          return;
        }
      }
      results[t] = "whole";
      open[t] = std::move(s);
    });
  }
  for (std::thread& t : tunnels) t.join();
  running = false;
  watch.join();
  for (const std::string& r : results) EXPECT_EQ(r, "whole");
  EXPECT_GT(most_grown.load(), 0u) << "no direction grew";
  EXPECT_LE(most_grown.load(), options.bulk_budget);
  // Still open, but no longer moving bulk: the grown buffers have gone back.
  EXPECT_TRUE(Eventually([&] { return relay.engine().grown_buffer_bytes() == 0; }));
  open.clear();
  EXPECT_TRUE(relay.Idle());
  EXPECT_EQ(relay.engine().grown_buffer_bytes(), 0u);
}

// A target named, through a SOCKS4a proxy, goes to the proxy as a name: the
// server here takes only names (it refuses the plain SOCKS4 form with an
// address), so the page arriving shows the name went out as it came.
TEST(RelayEngineTest, Socks4aHandsTheTargetsNameToARealServer) {
  REQUIRE_TEST_PORTS("WEB", "SOCKS4A");
  TestRelay relay;
  relay.SetRoute({Upstream(core::ProxyProtocol::kSocks4a, PortOf("SOCKS4A"))});
  std::string by_name = "CONNECT localhost:" + TestPort("WEB") +
                        " HTTP/1.1\r\n\r\nGET /verify.html HTTP/1.0\r\nHost: localhost\r\n\r\n";
  std::string answer = Exchange(relay.port(), by_name);
  EXPECT_NE(answer.find(kVerifyText), std::string::npos) << answer.substr(0, 300);
  answer = Exchange(relay.port(), ConnectGet());  // 127.0.0.1: the address form
  EXPECT_EQ(answer.rfind("HTTP/1.1 502", 0), 0u) << answer.substr(0, 300);
}

// A port for one client at a time keeps a single accept pending, yet takes every
// client that comes, also while an earlier one is still open.
TEST(RelayEngineTest, AOneClientPortServesEveryClientInTurn) {
  REQUIRE_TEST_PORTS("WEB", "MICROSOCKS");
  RelayEngine engine;
  std::string error;
  ASSERT_TRUE(engine.Start(&error)) << error;
  auto route = std::make_shared<RelayRoute>();
  route->candidates = {Upstream(core::ProxyProtocol::kSocks5, PortOf("MICROSOCKS"))};
  uint16_t port = engine.Listen(
      0, [route] { return std::shared_ptr<const RelayRoute>(route); }, nullptr, &error,
      /*one_client=*/true);
  ASSERT_NE(port, 0) << error;
  UniqueSocket quiet = ConnectTo(port);  // accepted; sends nothing
  ASSERT_TRUE(quiet);
  for (int i = 0; i < 3; ++i) {
    std::string answer = Exchange(port, PlainGet());
    EXPECT_NE(answer.find(kVerifyText), std::string::npos) << i << ": " << core::Shown(answer);
  }
  engine.CloseListener(port);
}

TEST(RelayEngineTest, HostileClientsAndProxiesEndTheirConnectionWithAReason) {
  REQUIRE_TEST_PORTS("WEB", "DEAD", "MICROSOCKS");
  HostileProxy close_at_once({HostileProxy::kCloseAtOnce});
  HostileProxy half_reply({HostileProxy::kHalfSocks5Reply});
  HostileProxy garbage({HostileProxy::kGarbage});
  HostileProxy silent({HostileProxy::kSilent});
  RelayEngineOptions options;
  options.request_timeout_ms = 1000;
  options.upstream_timeout_ms = 1000;
  TestRelay relay(options);
  using P = core::ProxyProtocol;
  struct Case {
    const char* name;
    std::vector<core::RelayCandidate> route;
    std::string request;
    bool close_early;    // the client closes right after sending
    const char* reply;   // the beginning of what the client hears; "" for nothing
    const char* reason;  // a part of the report's reason
    uint64_t carried_row = 0;  // the row that carried the tunnel after a failover; 0: none
  };
  const std::string loop =
      "CONNECT 127.0.0.1:" + std::to_string(relay.port()) + " HTTP/1.1\r\n\r\n";
  const Case cases[] = {
      {"garbage", {}, "\x16\x03\x01\x02\x00 hello", false, "HTTP/1.1 400", "无法识别"},
      {"a 1 MB head",
       {},
       "GET http://a/ HTTP/1.1\r\nX: " + std::string(1 << 20, 'x'),
       false,
       "",
       "请求头太长"},
      {"a client that stops half way", {}, "CONNECT 127.0.0.1:", true, "", "请求完整之前"},
      {"a client that goes silent", {}, "CONNECT 127.0.0.1:", false, "", "超时"},
      {"CONNECT to the relay itself", {}, loop, false, "HTTP/1.1 403", "本中转自己的端口"},
      {"CONNECT to the relay spelled in octal",
       {},
       "CONNECT 0177.0.0.1:" + std::to_string(relay.port()) + " HTTP/1.1\r\n\r\n",
       false,
       "HTTP/1.1 403",
       "本中转自己的端口"},
      // A row naming the relay, in any spelling of this machine, is never
      // connected to: one request, no flood of the relay's own connections.
      {"the relay as its own proxy",
       {Upstream(P::kSocks5, relay.port())},
       ConnectGet(),
       false,
       "HTTP/1.1 502",
       "本机中转自己"},
      {"the relay as its own proxy, spelled as one number",
       {[&] {
         core::RelayCandidate c = Upstream(P::kHttp, relay.port());
         c.upstream.proxy.host = "2130706433";
         return c;
       }()},
       PlainGet(),
       false,
       "HTTP/1.1 502",
       "本机中转自己"},
      {"no proxy in use", {}, ConnectGet(), false, "HTTP/1.1 502", "没有正在使用的代理"},
      {"nothing listens",
       {Upstream(P::kSocks5, PortOf("DEAD"))},
       ConnectGet(),
       false,
       "HTTP/1.1 502",
       "无法连接到代理服务器"},
      {"the proxy closes mid-handshake",
       {Upstream(P::kSocks5, half_reply.port())},
       ConnectGet(),
       false,
       "HTTP/1.1 502",
       "不完整"},
      {"the proxy closes at once",
       {Upstream(P::kHttp, close_at_once.port())},
       ConnectGet(),
       false,
       "HTTP/1.1 502",
       "不完整"},
      {"the proxy answers garbage",
       {Upstream(P::kSocks5, garbage.port())},
       Socks5Get(),
       false,
       "\x05\x00\x05\x01",
       "不是SOCKS5服务器"},
      {"the proxy is silent",
       {Upstream(P::kHttp, silent.port())},
       ConnectGet(),
       false,
       "HTTP/1.1 504",
       "超时"},
      {"the first proxy is dead: the second carries the tunnel",
       {WithRow(Upstream(P::kSocks5, PortOf("DEAD")), 6),
        WithRow(Upstream(P::kSocks5, PortOf("MICROSOCKS")), 7)},
       ConnectGet(),
       false,
       "HTTP/1.1 200",
       "",
       7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    relay.SetRoute(c.route);
    UniqueSocket s = ConnectTo(relay.port());
    ASSERT_TRUE(s);
    SendAll(s.get(), c.request);
    if (c.close_early) s.reset();
    std::string answer = s ? ReadAll(s.get()) : "";
    EXPECT_EQ(core::Shown(answer.substr(0, strlen(c.reply))), core::Shown(c.reply));
    std::vector<RelayReport> reports = relay.TakeReports(1);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].end_reason.find(c.reason), std::string::npos) << reports[0].end_reason;
    EXPECT_EQ(reports[0].listen_port, relay.port());
    EXPECT_EQ(reports[0].carried, c.carried_row != 0);
    EXPECT_EQ(reports[0].carried_row, c.carried_row);
  }
  EXPECT_TRUE(relay.Idle());
}

// An HTTP proxy that answers the first request and then keeps its connection
// open despite "Connection: close", keeping every byte it was sent.
class RecordingProxy {
 public:
  RecordingProxy() : server_([this](UniqueSocket s) { Serve(std::move(s)); }) {}
  uint16_t port() const { return server_.port(); }
  std::vector<std::string> Recorded() {
    std::lock_guard<std::mutex> lock(mutex_);
    return recorded_;
  }

 private:
  void Serve(UniqueSocket s) {
    DWORD timeout = 2000;
    setsockopt(s.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
               sizeof(timeout));
    std::string got;
    char buf[4096];
    bool answered = false;
    for (int n; (n = recv(s.get(), buf, sizeof(buf), 0)) > 0;) {
      got.append(buf, n);
      if (!answered && got.find("\r\n\r\n") != std::string::npos) {
        answered = SendAll(s.get(), "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
      }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    recorded_.push_back(got);
  }

  std::mutex mutex_;
  std::vector<std::string> recorded_;
  LoopbackServer server_;  // last: its thread ends before the rest goes
};

// A plain request's connection carries that request and its body, nothing more:
// a second request, pipelined or sent after the answer, never reaches the proxy
// with the client's own log-in and an unchecked Host.
TEST(RelayEngineTest, OnlyTheRequestTheRelayReadReachesTheProxy) {
  RecordingProxy proxy;
  TestRelay relay;
  relay.SetRoute({Upstream(core::ProxyProtocol::kHttp, proxy.port())});
  const std::string smuggled =
      "GET http://127.0.0.2/admin HTTP/1.1\r\nProxy-Authorization: Basic eDp5\r\n\r\n";
  struct Case {
    const char* name;
    std::string request;  // sent at once
    std::string later;    // sent after the answer
    std::string passed;   // what the proxy must have been sent after the head
  } cases[] = {
      {"pipelined after a GET", "GET http://127.0.0.1:9/ HTTP/1.1\r\n\r\n" + smuggled, "", ""},
      {"after a chunked POST",
       "POST http://127.0.0.1:9/ HTTP/1.1\r\nTransfer-Encoding: "
       "chunked\r\n\r\n2\r\nab\r\n0\r\n\r\n" +
           smuggled,
       "", "2\r\nab\r\n0\r\n\r\n"},
      {"sent once the answer came",
       "POST http://127.0.0.1:9/ HTTP/1.1\r\nContent-Length: 1\r\n\r\n", "x" + smuggled, "x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    size_t before = proxy.Recorded().size();
    UniqueSocket s = ConnectTo(relay.port());
    SendAll(s.get(), c.request);
    EXPECT_EQ(ReadHead(s.get()).rfind("HTTP/1.1 200", 0), 0u);
    EXPECT_EQ(ReadExactly(s.get(), 2), "ok");
    SendAll(s.get(), c.later);
    shutdown(s.get(), SD_SEND);
    ASSERT_TRUE(Eventually([&] { return proxy.Recorded().size() == before + 1; }));
    std::string got = proxy.Recorded().back();
    size_t head_end = got.find("\r\n\r\n");
    ASSERT_NE(head_end, std::string::npos);
    EXPECT_EQ(core::Shown(got.substr(head_end + 4)), core::Shown(c.passed));
    EXPECT_EQ(got.find("Proxy-Authorization"), std::string::npos);
  }
}

// Only programs of the user running the relay may use its port: another user's
// are closed before a byte is read, and one the system cannot place is taken,
// said once.
TEST(RelayEngineTest, OnlyTheUsersOwnProgramsUseTheRelay) {
  REQUIRE_TEST_PORTS("WEB", "TINYPROXY");
  struct Case {
    const char* name;
    std::optional<ClientOwner> owner;  // nullopt: the system's own check
    bool carried;
    size_t reports;  // over two connections
    const char* reason;
  } cases[] = {
      {"this user's program", ClientOwner::kThisUser, true, 0, ""},
      {"another user's program", ClientOwner::kOtherUser, false, 2, "另一个Windows用户"},
      {"a program the system cannot place", ClientOwner::kUnknown, true, 1, "无法告知"},
      // This test's own connections: never another user's.
      {"the system's answer", std::nullopt, true, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RelayEngineOptions options;
    if (c.owner) options.owner_of_client = [&c](auto&, auto&) { return *c.owner; };
    TestRelay relay(options, true);
    relay.SetRoute({Upstream(core::ProxyProtocol::kHttp, PortOf("TINYPROXY"))});
    for (int i = 0; i < 2; ++i) {
      std::string answer = Exchange(relay.port(), PlainGet());
      EXPECT_EQ(answer.find(kVerifyText) != std::string::npos, c.carried) << core::Shown(answer);
    }
    EXPECT_EQ(relay.engine().stranger_connections(), c.carried ? 0u : 2u);
    std::vector<RelayReport> reports = relay.TakeReports(c.reports);
    if (!c.owner) {
      // Under Wine the system is not asked whose a connection is: said once.
      reports.erase(std::remove_if(reports.begin(), reports.end(),
                                   [](const RelayReport& r) {
                                     return r.end_reason.find("无法告知") != std::string::npos;
                                   }),
                    reports.end());
      EXPECT_EQ(relay.engine().owner_unknown(), SystemOwnerCheck() == nullptr);
    }
    ASSERT_EQ(reports.size(), c.reports);
    for (const RelayReport& r : reports) EXPECT_NE(r.end_reason.find(c.reason), std::string::npos);
  }
}

// Clients past the cap are closed at once and counted; a tunnel left idle is
// closed at its deadline.
TEST(RelayEngineTest, ConnectionsAreCappedAndIdleTunnelsClosed) {
  REQUIRE_TEST_PORTS("MICROSOCKS");
  EchoTarget echo;
  RelayEngineOptions options;
  options.max_connections = 3;
  options.idle_tunnel_ms = 400;
  TestRelay relay(options);
  relay.SetRoute({Upstream(core::ProxyProtocol::kSocks5, PortOf("MICROSOCKS"))});
  std::vector<UniqueSocket> held;
  for (int i = 0; i < 3; ++i) held.push_back(ConnectTo(relay.port()));
  ASSERT_TRUE(Eventually([&] { return relay.engine().open_connections() == 3; }));
  UniqueSocket over = ConnectTo(relay.port());
  ASSERT_TRUE(over);
  EXPECT_EQ(ReadAll(over.get()), "");  // closed at once, not queued
  EXPECT_EQ(relay.engine().refused_connections(), 1u);
  held.clear();
  ASSERT_TRUE(relay.Idle());

  UniqueSocket tunnel = ConnectTo(relay.port());
  SendAll(tunnel.get(), "CONNECT 127.0.0.1:" + std::to_string(echo.port()) + " HTTP/1.1\r\n\r\n");
  EXPECT_EQ(ReadHead(tunnel.get()).rfind("HTTP/1.1 200", 0), 0u);
  SendAll(tunnel.get(), "ping");
  EXPECT_EQ(ReadExactly(tunnel.get(), 4), "ping");
  EXPECT_EQ(ReadAll(tunnel.get()), "");  // silent past the idle deadline: closed
  EXPECT_TRUE(relay.Idle());
}

TEST(RelayEngineTest, FailsOverBeforeAnsweringAndReportsWhatFailed) {
  REQUIRE_TEST_PORTS("WEB", "DEAD", "MICROSOCKS");
  HostileProxy garbage({HostileProxy::kGarbage});
  TestRelay relay;
  using P = core::ProxyProtocol;
  relay.SetRoute({Upstream(P::kSocks5, PortOf("DEAD")), Upstream(P::kSocks5, garbage.port()),
                  Upstream(P::kSocks5, PortOf("MICROSOCKS"))});
  std::string answer = Exchange(relay.port(), ConnectGet());
  EXPECT_NE(answer.find(kVerifyText), std::string::npos) << core::Shown(answer.substr(0, 300));
  std::vector<RelayReport> reports = relay.TakeReports(1);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].end_reason, "");
  ASSERT_EQ(reports[0].failures.size(), 2u);
  EXPECT_EQ(reports[0].failures[0].failure, core::ProxyFailure::kProxyUnreachable);
  EXPECT_EQ(reports[0].failures[1].failure, core::ProxyFailure::kNotSocks5);
  EXPECT_EQ(reports[0].failures[1].label, "127.0.0.1:" + std::to_string(garbage.port()));
  EXPECT_EQ(reports[0].carried_label, "127.0.0.1:" + TestPort("MICROSOCKS"));
}

TEST(RelayEngineTest, ANewRouteLeavesOpenTunnelsAlone) {
  REQUIRE_TEST_PORTS("WEB", "DEAD", "MICROSOCKS");
  TestRelay relay;
  relay.SetRoute({Upstream(core::ProxyProtocol::kSocks5, PortOf("MICROSOCKS"))});
  UniqueSocket open = ConnectTo(relay.port());
  ASSERT_TRUE(open);
  SendAll(open.get(), "CONNECT " + WebTarget() + " HTTP/1.1\r\n\r\n");
  char buf[64];
  int n = recv(open.get(), buf, sizeof(buf), 0);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::string(buf, n).substr(0, 12), "HTTP/1.1 200");

  relay.SetRoute({Upstream(core::ProxyProtocol::kSocks5, PortOf("DEAD"))});
  EXPECT_EQ(Exchange(relay.port(), ConnectGet()).substr(0, 12), "HTTP/1.1 502");
  SendAll(open.get(), "GET /verify.html HTTP/1.0\r\n\r\n");
  EXPECT_NE(ReadAll(open.get()).find(kVerifyText), std::string::npos);
}

// A SOCKS5 proxy of the test's own that keeps count: each connection it takes is
// numbered; it answers the greeting and a CONNECT (IPv4) whatever the target,
// then echoes until the relay closes. Each connection has a thread of its own:
// one may sit greeted and idle while others run.
class CountingSocks5 {
 public:
  CountingSocks5()
      : server_(std::make_unique<LoopbackServer>([this](UniqueSocket s) {
          int number = ++accepted_;
          ++open_;
          threads_.emplace_back([this, number, owned = std::move(s)] {
            Serve(owned.get(), number);
            --open_;
          });
        })) {}
  ~CountingSocks5() {
    server_.reset();
    for (std::thread& t : threads_) t.join();
  }
  uint16_t port() const { return server_->port(); }
  int accepted() const { return accepted_; }
  int greeted() const { return greeted_; }
  int open() const { return open_; }
  // The connection each tunnel's request came on, in order.
  std::vector<int> requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  void Serve(SOCKET s, int number) {
    if (ReadExactly(s, 3) != core::Bytes("05 01 00") || !SendAll(s, core::Bytes("05 00"))) return;
    ++greeted_;
    if (ReadExactly(s, 10).size() != 10) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(number);
    }
    if (!SendAll(s, core::Bytes("05 00 00 01 7f 00 00 01 00 50"))) return;
    char buf[4096];
    for (int n; (n = recv(s, buf, sizeof(buf), 0)) > 0;) {
      if (!SendAll(s, std::string_view(buf, n))) break;
    }
  }

  std::atomic<int> accepted_{0};
  std::atomic<int> greeted_{0};
  std::atomic<int> open_{0};
  std::mutex mutex_;
  std::vector<int> requests_;
  std::vector<std::thread> threads_;
  std::unique_ptr<LoopbackServer> server_;
};

// One tunnel asked in HTTP CONNECT: the relay says 200 and "ping" comes back.
bool PingThrough(uint16_t relay) {
  UniqueSocket s = ConnectTo(relay);
  return s && SendAll(s.get(), "CONNECT 127.0.0.1:80 HTTP/1.1\r\n\r\n") &&
         ReadHead(s.get()).rfind("HTTP/1.1 200", 0) == 0 && SendAll(s.get(), "ping") &&
         ReadExactly(s.get(), 4) == "ping";
}

// Once a tunnel is up, the next client's request goes out on a connection
// opened and greeted before that client came; a held connection for a row no
// longer in use, or unused for its time, is let go.
TEST(RelayEngineTest, TheNextClientFindsAConnectionOpenedAhead) {
  CountingSocks5 first;
  CountingSocks5 second;
  RelayEngineOptions options;
  options.held_ms = 1000;
  TestRelay relay(options);
  relay.SetRoute({Upstream(core::ProxyProtocol::kSocks5, first.port())});
  ASSERT_TRUE(PingThrough(relay.port()));
  // Opened and greeted before any client; the relay then needs to read the
  // greeting's answer (well within the pause) for the connection to be ready.
  EXPECT_TRUE(Eventually([&] { return first.greeted() == 2; }));
  Sleep(200);
  ASSERT_TRUE(PingThrough(relay.port()));
  EXPECT_EQ(first.requests(), (std::vector<int>{1, 2}));

  relay.SetRoute({Upstream(core::ProxyProtocol::kSocks5, second.port())});
  EXPECT_TRUE(Eventually([&] { return first.accepted() == 3; }));  // held again
  ASSERT_TRUE(PingThrough(relay.port()));
  EXPECT_EQ(second.requests(), (std::vector<int>{1}));
  EXPECT_TRUE(Eventually([&] { return first.open() == 0; }));
  EXPECT_TRUE(Eventually([&] { return second.accepted() == 2; }));
  EXPECT_TRUE(Eventually([&] { return second.open() == 0; }));  // unused for its time
  EXPECT_TRUE(relay.Idle());
  EXPECT_TRUE(relay.TakeReports(0).empty());
}

TEST(RelayEngineTest, HandleCountStaysFlatOverTenThousandHostileConnections) {
  HostileProxy hostile(
      {HostileProxy::kCloseAtOnce, HostileProxy::kHalfSocks5Reply, HostileProxy::kGarbage});
  TestRelay relay;
  TestRelay upstream_relay;  // the hostile proxy behind a SOCKS5 route of its own listener
  upstream_relay.SetRoute({Upstream(core::ProxyProtocol::kSocks5, hostile.port())});
  const std::string requests[] = {
      "\x16\x03\x01 garbage",
      "CONNECT 127.0.0.1:",
      "CONNECT 127.0.0.1:1 HTTP/1.1\r\n\r\n",
  };
  auto run = [&](int count) {
    for (int i = 0; i < count; ++i) {
      bool to_hostile = i % 4 == 3;
      UniqueSocket s = ConnectTo(to_hostile ? upstream_relay.port() : relay.port());
      if (!s) continue;
      SendAll(s.get(), to_hostile ? requests[2] : requests[i % 2]);
      if (i % 4 == 1) continue;  // stops half way: closed here without reading
      ReadAll(s.get());
    }
  };
  run(200);  // the first connections make the buffers and threads that stay
  ASSERT_TRUE(relay.Idle() && upstream_relay.Idle());
  DWORD before = 0, after = 0;
  GetProcessHandleCount(GetCurrentProcess(), &before);
  run(10000);
  ASSERT_TRUE(relay.Idle() && upstream_relay.Idle());
  GetProcessHandleCount(GetCurrentProcess(), &after);
  EXPECT_LE(after, before + 10) << "before " << before << ", after " << after;
  relay.TakeReports(0);
  upstream_relay.TakeReports(0);
}

TEST(RelayEngineTest, WinInetFetchesThroughTheRelayAndASocks5ProxyWithALogIn) {
  REQUIRE_TEST_PORTS("WEB", "MICROSOCKS_AUTH");
  TestRelay relay;
  relay.SetRoute({Upstream(core::ProxyProtocol::kSocks5, PortOf("MICROSOCKS_AUTH"), true)});
  core::VerifyRun run;
  ASSERT_TRUE(run.SetProxyLine("127.0.0.1:" + std::to_string(relay.port())));
  ASSERT_TRUE(run.AddSite("http://" + WebTarget() + "/verify.html", kVerifyText));
  WinInetSiteFetcher fetcher;
  WinClock clock;
  core::QuietObserver quiet;
  run.RunTests(fetcher, clock, quiet);
  ASSERT_EQ(run.Outcomes().size(), 1u);
  EXPECT_EQ(run.Outcomes()[0].status, 9);  // the page with the verify string
  EXPECT_TRUE(relay.TakeReports(0).empty());
}

}  // namespace
}  // namespace win
