// A page fetch driven by hand, without sockets: the bytes a proxy and a site send
// in the order they send them, and the outcome the fetch comes to.
#include "core/verify/page_fetch.h"

#include <gtest/gtest.h>

#include "core/net/http_head.h"
#include "core/net/net_testing.h"

namespace core {
namespace {

constexpr char kPage[] = "HTTP/1.1 200 OK\r\nContent-Length: 27\r\n\r\n<html>Example Domain</html>";

FetchTarget Target(std::string host, uint16_t port, bool secure = false, std::string path = "/p") {
  FetchTarget t;
  t.site = {std::move(host), port};
  t.secure = secure;
  t.path = std::move(path);
  t.ipv4 = ClassifyHost(t.site.host) == HostKind::kIpv4 ? t.site.host : "";
  return t;
}

UpstreamProxy Proxy(ProxyProtocol protocol, bool credentials = false) {
  UpstreamProxy p;
  p.proxy = {"10.0.0.1", 3128};
  p.protocol = protocol;
  if (credentials) p.credentials = ProxyCredentials{"u", "p"};
  return p;
}

TEST(PageFetchTest, PlainHttpThroughAnHttpProxyFindsTheVerifyString) {
  PageFetch f(Proxy(ProxyProtocol::kHttp, true), Target("example.com", 80), "Example Domain",
              PageFetch::Mode::kScan, nullptr, {}, 1000);
  EXPECT_EQ(f.connect_to().host, "10.0.0.1");
  f.OnConnected(1010);
  std::string head = f.TakeOutput();
  EXPECT_EQ(head.rfind("GET http://example.com:80/p HTTP/1.1\r\nHost: example.com\r\n", 0), 0u)
      << Shown(head);
  EXPECT_NE(head.find("Proxy-Authorization: Basic dTpw\r\n"), std::string::npos);
  EXPECT_NE(head.find("Connection: close\r\n\r\n"), std::string::npos);
  std::string page = kPage;
  for (size_t i = 0; i + 1 < page.size(); i += 7) {
    f.OnReceived(page.substr(i, std::min<size_t>(7, page.size() - 1 - i)), 1200);
  }
  EXPECT_FALSE(f.done());
  f.OnReceived(">", 1500);
  ASSERT_TRUE(f.done());
  EXPECT_TRUE(f.result().complete);
  EXPECT_TRUE(f.result().found);
  EXPECT_EQ(f.result().status, 200);
  EXPECT_DOUBLE_EQ(f.result().seconds, 0.5);
}

TEST(PageFetchTest, Socks5TunnelCarriesAnOriginFormRequest) {
  PageFetch f(Proxy(ProxyProtocol::kSocks5), Target("127.0.0.1", 8080), "Example Domain",
              PageFetch::Mode::kScan, nullptr, {}, 0);
  f.OnConnected(1);
  EXPECT_EQ(Shown(f.TakeOutput()), Shown(Bytes("05 01 00")));
  f.OnReceived(Bytes("05 00"), 2);
  EXPECT_EQ(Shown(f.TakeOutput()), Shown(Bytes("05 01 00 01 7f 00 00 01 1f 90")));
  // The tunnel's reply and the page's first bytes in one piece.
  f.OnReceived(Bytes("05 00 00 01 00 00 00 00 00 00") + "HTTP/1.0 200 OK\r\n\r\nExample", 3);
  std::string head = f.TakeOutput();
  EXPECT_EQ(head.rfind("GET /p HTTP/1.1\r\nHost: 127.0.0.1:8080\r\n", 0), 0u) << Shown(head);
  f.OnReceived(" Domain", 4);
  EXPECT_FALSE(f.done());  // no length: the page ends with the stream
  f.OnEnd(5);
  ASSERT_TRUE(f.done());
  EXPECT_TRUE(f.result().found);
  EXPECT_TRUE(f.result().had_handshake);
}

TEST(PageFetchTest, Socks4SendsTheSitesIpv4Address) {
  FetchTarget t = Target("example.com", 80);
  t.ipv4 = "93.184.216.34";
  PageFetch f(Proxy(ProxyProtocol::kSocks4), t, "x", PageFetch::Mode::kScan, nullptr, {}, 0);
  f.OnConnected(1);
  EXPECT_EQ(Shown(f.TakeOutput()), Shown(Bytes("04 01 00 50 5d b8 d8 22 00")));
}

// Each way a fetch can end short of a page, with the stage and reason it names.
TEST(PageFetchTest, FailuresNameTheirStageAndReason) {
  struct Case {
    const char* name;
    ProxyProtocol protocol;
    std::vector<std::string> replies;  // fed in turn after the connect
    bool close_after;
    FetchStage stage;
    const char* reason;
  } cases[] = {
      {"socks5 auth wanted",
       ProxyProtocol::kSocks5,
       {Bytes("05 ff")},
       false,
       FetchStage::kHandshake,
       "proxy wants a user name and password"},
      {"http proxy spoken to as socks5",
       ProxyProtocol::kSocks5,
       {"HTTP/1.1 400 Bad\r\n\r\n"},
       false,
       FetchStage::kHandshake,
       "not a SOCKS5 server"},
      {"closed mid-handshake",
       ProxyProtocol::kSocks5,
       {Bytes("05")},
       true,
       FetchStage::kHandshake,
       "short or malformed reply"},
      {"garbage instead of a page",
       ProxyProtocol::kHttp,
       {"garbage\r\n\r\n"},
       false,
       FetchStage::kReply,
       "reply is not HTTP"},
      {"page cut short",
       ProxyProtocol::kHttp,
       {"HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nabc"},
       true,
       FetchStage::kReply,
       "reply cut short"},
      {"endless head",
       ProxyProtocol::kHttp,
       {"HTTP/1.1 200 OK\r\n", "X: " + std::string(kMaxHttpHead, 'a')},
       false,
       FetchStage::kReply,
       "reply head too long"},
  };
  for (const Case& c : cases) {
    PageFetch f(Proxy(c.protocol), Target("127.0.0.1", 80), "x", PageFetch::Mode::kScan, nullptr,
                {}, 0);
    f.OnConnected(1);
    for (const std::string& r : c.replies) f.OnReceived(r, 2);
    if (c.close_after) f.OnEnd(3);
    ASSERT_TRUE(f.done()) << c.name;
    EXPECT_FALSE(f.result().complete) << c.name;
    EXPECT_EQ(f.result().failed_in, c.stage) << c.name;
    EXPECT_EQ(f.result().reason, c.reason) << c.name;
  }
}

TEST(PageFetchTest, DeadlinesOfConnectSilenceAndWholeFetch) {
  FetchTimeouts t{100, 50, 120};
  PageFetch f(Proxy(ProxyProtocol::kHttp), Target("127.0.0.1", 80), "x", PageFetch::Mode::kScan,
              nullptr, t, 1000);
  EXPECT_EQ(f.deadline_ms(), 1100u);
  f.OnTick(1099);
  EXPECT_FALSE(f.done());
  f.OnConnected(1010);
  EXPECT_EQ(f.deadline_ms(), 1060u);  // silence after the connect
  f.OnReceived("HTTP/1.1 200 OK\r\n", 1050);
  EXPECT_EQ(f.deadline_ms(), 1100u);
  f.OnReceived("X: 1\r\n", 1090);
  EXPECT_EQ(f.deadline_ms(), 1120u);  // a trickle meets the whole fetch's limit
  f.OnTick(1120);
  ASSERT_TRUE(f.done());
  EXPECT_EQ(f.result().reason, "page not finished in time");

  PageFetch dead(Proxy(ProxyProtocol::kHttp), Target("127.0.0.1", 80), "x", PageFetch::Mode::kScan,
                 nullptr, t, 0xFFFFFFF0u);  // across the counter's wrap
  dead.OnTick(0x50);
  EXPECT_FALSE(dead.done());
  dead.OnTick(0x54);
  ASSERT_TRUE(dead.done());
  EXPECT_EQ(dead.result().failed_in, FetchStage::kConnect);
}

TEST(PageFetchTest, RedirectAndKeptPage) {
  PageFetch r(Proxy(ProxyProtocol::kHttp), Target("127.0.0.1", 80), "Here", PageFetch::Mode::kScan,
              nullptr, {}, 0);
  r.OnConnected(1);
  r.OnReceived("HTTP/1.1 302 Found\r\nContent-Length: 4\r\n\r\nHere", 2);
  ASSERT_TRUE(r.done());
  EXPECT_TRUE(r.result().complete);
  EXPECT_FALSE(r.result().found);  // a redirect counts as a page without the string

  PageFetch k(std::nullopt, Target("127.0.0.1", 80), "", PageFetch::Mode::kKeep, nullptr, {}, 0);
  EXPECT_EQ(k.connect_to().port, 80);
  k.set_keep_limit(5);
  k.OnConnected(1);
  EXPECT_EQ(k.TakeOutput().rfind("GET /p HTTP/1.1\r\nHost: 127.0.0.1\r\n", 0), 0u);
  k.OnReceived("HTTP/1.1 200 OK\r\n\r\n1.2.3.4 and more", 2);
  ASSERT_TRUE(k.done());
  EXPECT_EQ(k.result().page, "1.2.3");
}

// TLS stand-in: "hello" out first; the server's "ok" completes the handshake; then
// bytes pass through with a "T" in front of each piece sent.
class FakeTls : public TlsChannel {
 public:
  explicit FakeTls(bool refuse) : refuse_(refuse) { out_ = "hello"; }
  bool Receive(std::string_view encrypted, std::string* plain) override {
    if (!shaken_) {
      if (refuse_) return false;
      shaken_ = encrypted.substr(0, 2) == "ok";
      out_ += pending_;
      encrypted.remove_prefix(2);
    }
    plain->append(encrypted);
    return true;
  }
  bool Send(std::string_view plain) override {
    (shaken_ ? out_ : pending_) += "T" + std::string(plain);
    return true;
  }
  std::string TakeOutgoing() override { return std::exchange(out_, {}); }
  std::string error() const override { return "certificate not accepted"; }

 private:
  bool refuse_;
  bool shaken_ = false;
  std::string out_, pending_;
};

class FakeTlsFactory : public TlsFactory {
 public:
  explicit FakeTlsFactory(bool refuse) : refuse_(refuse) {}
  std::unique_ptr<TlsChannel> Start(std::string_view host) override {
    hosts.emplace_back(host);
    return std::make_unique<FakeTls>(refuse_);
  }
  std::vector<std::string> hosts;

 private:
  bool refuse_;
};

TEST(PageFetchTest, HttpsGoesThroughConnectThenTls) {
  FakeTlsFactory tls(false);
  PageFetch f(Proxy(ProxyProtocol::kHttp), Target("example.com", 443, true), "Example",
              PageFetch::Mode::kScan, &tls, {}, 0);
  f.OnConnected(1);
  EXPECT_EQ(f.TakeOutput().rfind("CONNECT example.com:443 HTTP/1.1\r\n", 0), 0u);
  f.OnReceived("HTTP/1.1 200 Connection established\r\n\r\n", 2);
  EXPECT_EQ(f.TakeOutput(), "hello");
  EXPECT_EQ(tls.hosts, std::vector<std::string>{"example.com"});
  f.OnReceived("ok", 3);
  std::string request = f.TakeOutput();
  EXPECT_EQ(request.rfind("TGET /p HTTP/1.1\r\nHost: example.com\r\n", 0), 0u) << request;
  f.OnReceived("HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\nExample", 4);
  ASSERT_TRUE(f.done());
  EXPECT_TRUE(f.result().found);

  FakeTlsFactory refusing(true);
  PageFetch g(std::nullopt, Target("example.com", 443, true), "Example", PageFetch::Mode::kScan,
              &refusing, {}, 0);
  g.OnConnected(1);
  g.OnReceived("forged", 2);
  ASSERT_TRUE(g.done());
  EXPECT_EQ(g.result().failed_in, FetchStage::kTls);
  EXPECT_EQ(g.result().reason, "TLS: certificate not accepted");
}

}  // namespace
}  // namespace core
