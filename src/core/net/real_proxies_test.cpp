// The client machines against a real SOCKS5 server (microsocks, started here on
// a free port of 127.0.0.1, with and without a user name and password) and a
// small page server of the test's own, over real sockets. Linux only: the
// Windows test program builds the same file without these tests.
#include <gtest/gtest.h>

#if !defined(_WIN32)

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/net/proxy_handshake.h"
#include "core/net/test_servers_posix.h"

namespace core {
namespace {

using namespace test_servers;

constexpr char kPage[] = "HTTP/1.0 200 OK\r\n\r\nRELAYMOTH-REAL-PROXY";

// Reads what arrives within `ms`; empty at the end of the stream or on a time-out.
std::string ReadSome(int s, int ms) {
  pollfd p{s, POLLIN, 0};
  if (poll(&p, 1, ms) <= 0) return {};
  char buffer[4096];
  ssize_t n = recv(s, buffer, sizeof(buffer), 0);
  return n > 0 ? std::string(buffer, size_t(n)) : std::string();
}

// A page server that answers every connection with kPage.
class PageServer {
 public:
  PageServer() {
    listener_ = Listener(&port_);
    thread_ = std::thread([this] {
      while (!stop_) {
        pollfd p{listener_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        int c = accept(listener_, nullptr, nullptr);
        if (c < 0) continue;
        ReadSome(c, 2000);  // the request
        send(c, kPage, sizeof(kPage) - 1, MSG_NOSIGNAL);
        close(c);
      }
    });
  }
  ~PageServer() {
    stop_ = true;
    thread_.join();
    close(listener_);
  }
  uint16_t port() const { return port_; }

 private:
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

struct Outcome {
  HandshakeState state = HandshakeState::kInProgress;
  ProxyFailure failure = ProxyFailure::kNone;
  std::string page;  // what came through the tunnel
};

// Runs the handshake over a real connection to the proxy, then asks for the page.
Outcome Through(uint16_t proxy_port, const HandshakeRequest& request) {
  Outcome out;
  int s = ConnectTo(proxy_port);
  if (s < 0) return out;
  std::unique_ptr<ProxyHandshake> h = StartProxyHandshake(ProxyProtocol::kSocks5, request);
  for (int round = 0; round < 20 && h->state() == HandshakeState::kInProgress; ++round) {
    std::string send_now = h->TakeOutput();
    if (!send_now.empty()) send(s, send_now.data(), send_now.size(), MSG_NOSIGNAL);
    std::string got = ReadSome(s, 3000);
    if (got.empty()) {
      h->OnClosed();
      break;
    }
    h->Feed(got);
  }
  out.state = h->state();
  out.failure = h->failure();
  if (out.state == HandshakeState::kTunnelUp) {
    out.page = h->TakePayload();
    const char request_line[] = "GET / HTTP/1.0\r\n\r\n";
    send(s, request_line, sizeof(request_line) - 1, MSG_NOSIGNAL);
    for (std::string more; !(more = ReadSome(s, 3000)).empty();) out.page += more;
  }
  close(s);
  return out;
}

TEST(RealProxiesTest, Socks5ThroughMicrosocks) {
  if (!Have("microsocks")) GTEST_SKIP() << "microsocks is not installed";
  PageServer page;
  Spawned open = Microsocks();
  Spawned locked = Microsocks({"-u", "relay", "-P", "s3cret"});
  ASSERT_TRUE(open.up() && locked.up()) << "microsocks did not start";
  struct Case {
    const char* name;
    uint16_t proxy;
    std::string host;
    std::optional<ProxyCredentials> credentials;
    HandshakeState state;
    ProxyFailure failure;
  };
  const Case cases[] = {
      {"no authentication", open.port(), "127.0.0.1", std::nullopt, HandshakeState::kTunnelUp,
       ProxyFailure::kNone},
      {"a name resolved by the proxy", open.port(), "localhost", std::nullopt,
       HandshakeState::kTunnelUp, ProxyFailure::kNone},
      {"user name and password", locked.port(), "127.0.0.1", ProxyCredentials{"relay", "s3cret"},
       HandshakeState::kTunnelUp, ProxyFailure::kNone},
      {"wrong password", locked.port(), "127.0.0.1", ProxyCredentials{"relay", "nope"},
       HandshakeState::kFailed, ProxyFailure::kAuthRefused},
      {"no credentials for a locked proxy", locked.port(), "127.0.0.1", std::nullopt,
       HandshakeState::kFailed, ProxyFailure::kAuthRequired},
  };
  for (const Case& c : cases) {
    Outcome out = Through(c.proxy, {{c.host, page.port()}, c.credentials});
    EXPECT_EQ(out.state, c.state) << c.name;
    EXPECT_EQ(out.failure, c.failure) << c.name;
    if (c.state == HandshakeState::kTunnelUp) {
      EXPECT_NE(out.page.find("RELAYMOTH-REAL-PROXY"), std::string::npos) << c.name;
    }
  }
}

}  // namespace
}  // namespace core

#endif  // !defined(_WIN32)
