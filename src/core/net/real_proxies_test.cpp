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

extern char** environ;

namespace core {
namespace {

constexpr char kPage[] = "HTTP/1.0 200 OK\r\n\r\nRELAYMOTH-REAL-PROXY";

int Listener(uint16_t* port) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(a);
  if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&a), len) != 0 || listen(s, 16) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    if (s >= 0) close(s);
    return -1;
  }
  *port = ntohs(a.sin_port);
  return s;
}

int ConnectTo(uint16_t port) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
    close(s);
    return -1;
  }
  return s;
}

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

// microsocks on a free port of 127.0.0.1; stopped with the object.
class Microsocks {
 public:
  explicit Microsocks(std::vector<std::string> extra = {}) {
    int probe = Listener(&port_);  // a free port, given back at once
    if (probe < 0) return;
    close(probe);
    std::vector<std::string> args = {"microsocks", "-i", "127.0.0.1", "-p", std::to_string(port_)};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawnp(&pid_, "microsocks", nullptr, nullptr, argv.data(), environ) != 0) pid_ = 0;
    // Up once it accepts a connection.
    for (int i = 0; pid_ != 0 && i < 100; ++i) {
      int s = ConnectTo(port_);
      if (s >= 0) {
        close(s);
        up_ = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ~Microsocks() {
    if (pid_ == 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  bool up() const { return up_; }
  uint16_t port() const { return port_; }

 private:
  pid_t pid_ = 0;
  uint16_t port_ = 0;
  bool up_ = false;
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

bool HaveMicrosocks() { return system("command -v microsocks >/dev/null 2>&1") == 0; }

TEST(RealProxiesTest, Socks5ThroughMicrosocks) {
  if (!HaveMicrosocks()) GTEST_SKIP() << "microsocks is not installed";
  PageServer page;
  Microsocks open;
  Microsocks locked({"-u", "relay", "-P", "s3cret"});
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
