#include "core/net/proxy_handshake.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/net/net_testing.h"
#include "core/net/socks5_client.h"

namespace core {
namespace {

// One round: what the client must have sent before the proxy's answer, then the answer.
struct Round {
  std::string sent;
  std::string reply;
};

struct Outcome {
  HandshakeState state;
  ProxyFailure failure;
  int code;
  std::string payload;
};

Outcome Up(int code, std::string payload = "") {
  return {HandshakeState::kTunnelUp, ProxyFailure::kNone, code, std::move(payload)};
}
Outcome Failed(ProxyFailure failure, int code = -1) {
  return {HandshakeState::kFailed, failure, code, ""};
}
Outcome Pending() { return {HandshakeState::kInProgress, ProxyFailure::kNone, -1, ""}; }

struct Case {
  const char* name;
  ProxyProtocol protocol;
  NetTarget target;
  const ProxyCredentials* credentials;
  std::vector<Round> rounds;
  Outcome outcome;
};

Case C(const char* name, ProxyProtocol protocol, NetTarget target,
       const ProxyCredentials* credentials, std::vector<Round> rounds, Outcome outcome) {
  return {name, protocol, std::move(target), credentials, std::move(rounds), std::move(outcome)};
}

const ProxyCredentials kUserPassValue{"user", "pass"};
const ProxyCredentials* const kUserPass = &kUserPassValue;

// GCC 12 warns falsely about optionals built inside aggregate initialisers, so the
// tables hold pointers and the requests are made here.
HandshakeRequest Request(NetTarget target, const ProxyCredentials* credentials) {
  HandshakeRequest r;
  r.target = std::move(target);
  if (credentials) r.credentials = *credentials;
  return r;
}

// How the replies are cut: whole, one byte per Feed, or each round's reply split in two
// at `split`.
enum class Cut { kWhole, kBytewise, kSplit };

void Run(const Case& c, Cut cut, size_t split = 0) {
  SCOPED_TRACE(testing::Message() << c.name << " cut " << int(cut) << " at " << split);
  auto h = StartProxyHandshake(c.protocol, Request(c.target, c.credentials));
  for (const Round& r : c.rounds) {
    EXPECT_EQ(Shown(h->TakeOutput()), Shown(r.sent));
    if (cut == Cut::kBytewise) {
      for (char b : r.reply) h->Feed(std::string_view(&b, 1));
    } else if (cut == Cut::kSplit && split <= r.reply.size()) {
      h->Feed(std::string_view(r.reply).substr(0, split));
      h->Feed(std::string_view(r.reply).substr(split));
    } else {
      h->Feed(r.reply);
    }
  }
  EXPECT_EQ(Shown(h->TakeOutput()), "");
  EXPECT_EQ(h->state(), c.outcome.state);
  EXPECT_EQ(h->failure(), c.outcome.failure);
  EXPECT_EQ(h->reply_code(), c.outcome.code);
  EXPECT_EQ(Shown(h->TakePayload()), Shown(c.outcome.payload));
}

void RunAllCuts(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    Run(c, Cut::kWhole);
    Run(c, Cut::kBytewise);
    size_t longest = 0;
    for (const Round& r : c.rounds) longest = std::max(longest, r.reply.size());
    for (size_t split = 0; split <= longest; ++split) Run(c, Cut::kSplit, split);
  }
}

constexpr auto kUp = HandshakeState::kTunnelUp;
constexpr auto kFailed = HandshakeState::kFailed;

const std::string kConnectHead =
    "CONNECT example.com:443 HTTP/1.1\r\nHost: example.com:443\r\n\r\n";

TEST(HttpConnectClientTest, Conversations) {
  std::string with_auth =
      "CONNECT example.com:443 HTTP/1.1\r\nHost: example.com:443\r\n"
      "Proxy-Authorization: Basic dXNlcjpwYXNz\r\n\r\n";
  NetTarget t{"example.com", 443};
  RunAllCuts({
      C("200 with payload", ProxyProtocol::kHttp, t, nullptr,
        {{kConnectHead, "HTTP/1.1 200 Connection established\r\n\r\n\x16\x03\x01"}},
        Up(200, "\x16\x03\x01")),
      C("credentials", ProxyProtocol::kHttp, t, kUserPass,
        {{with_auth, "HTTP/1.0 200 OK\r\nProxy-Agent: x\r\n\r\n"}}, Up(200)),
      C("IPv6 target", ProxyProtocol::kHttp, {"2001:db8::1", 8443}, nullptr,
        {{"CONNECT [2001:db8::1]:8443 HTTP/1.1\r\nHost: [2001:db8::1]:8443\r\n\r\n",
          "HTTP/1.1 204 No Content\r\n\r\n"}},
        Up(204)),
      C("interim head first", ProxyProtocol::kHttp, t, nullptr,
        {{kConnectHead, "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\n\r\nx"}}, Up(200, "x")),
      C("LF line ends", ProxyProtocol::kHttp, t, nullptr,
        {{kConnectHead, "http/1.1 200 OK\nVia: a\n\nx"}}, Up(200, "x")),
      C("407 without credentials", ProxyProtocol::kHttp, t, nullptr,
        {{kConnectHead, "HTTP/1.1 407 Proxy Authentication Required\r\n\r\n"}},
        Failed(ProxyFailure::kAuthRequired, 407)),
      C("407 with credentials", ProxyProtocol::kHttp, t, kUserPass,
        {{with_auth, "HTTP/1.1 407 Proxy Authentication Required\r\nX: y\r\n\r\n"}},
        Failed(ProxyFailure::kAuthRefused, 407)),
      C("403", ProxyProtocol::kHttp, t, nullptr, {{kConnectHead, "HTTP/1.1 403 Forbidden\r\n\r\n"}},
        Failed(ProxyFailure::kRefused, 403)),
      C("not HTTP", ProxyProtocol::kHttp, t, nullptr, {{kConnectHead, "SSH-2.0-x\r\n"}},
        Failed(ProxyFailure::kNotHttpProxy)),
      C("SOCKS bytes", ProxyProtocol::kHttp, t, nullptr, {{kConnectHead, Bytes("05 ff")}},
        Failed(ProxyFailure::kNotHttpProxy)),
      C("bad status", ProxyProtocol::kHttp, t, nullptr, {{kConnectHead, "HTTP/1.1 2xx OK\r\n\r\n"}},
        Failed(ProxyFailure::kBadReply)),
      C("field without colon", ProxyProtocol::kHttp, t, nullptr,
        {{kConnectHead, "HTTP/1.1 200 OK\r\nnonsense\r\n\r\n"}}, Failed(ProxyFailure::kBadReply)),
      C("incomplete head stays in progress", ProxyProtocol::kHttp, t, nullptr,
        {{kConnectHead, "HTTP/1.1 200 OK\r\n"}}, Pending()),
  });
}

TEST(HttpConnectClientTest, RefusedBeforeSending) {
  const ProxyCredentials colon_user{"a:b", "c"}, broken_password{"a", "c\r\nX: 1"};
  struct Case {
    NetTarget target;
    const ProxyCredentials* credentials;
    ProxyFailure failure;
  } cases[] = {
      {{"", 443}, {}, ProxyFailure::kBadTarget},
      {{"example.com", 0}, {}, ProxyFailure::kBadTarget},
      {{"a b", 80}, {}, ProxyFailure::kBadTarget},
      {{"h\r\nX: 1", 80}, {}, ProxyFailure::kBadTarget},
      {{"h", 80}, &colon_user, ProxyFailure::kBadCredentials},
      {{"h", 80}, &broken_password, ProxyFailure::kBadCredentials},
  };
  for (const Case& c : cases) {
    auto h = StartProxyHandshake(ProxyProtocol::kHttp, Request(c.target, c.credentials));
    EXPECT_EQ(h->state(), kFailed) << c.target.host;
    EXPECT_EQ(h->failure(), c.failure) << c.target.host;
    EXPECT_EQ(h->output(), "") << c.target.host;
  }
}

TEST(HttpConnectClientTest, ReplyHeadOverLimitFails) {
  auto h = StartProxyHandshake(ProxyProtocol::kHttp, Request({"h", 1}, nullptr));
  std::string head = "HTTP/1.1 200 OK\r\nX: " + std::string(kMaxHandshakeReply, 'a') + "\r\n\r\n";
  EXPECT_EQ(h->Feed(head), kFailed);
  EXPECT_EQ(h->failure(), ProxyFailure::kBadReply);
  // Endless fields without a blank line fail at the limit, not at the end of memory.
  auto slow = StartProxyHandshake(ProxyProtocol::kHttp, Request({"h", 1}, nullptr));
  slow->Feed("HTTP/1.1 200 OK\r\n");
  for (int i = 0; i < 2000 && slow->state() == HandshakeState::kInProgress; ++i) {
    slow->Feed("X-Filler: 0123456789\r\n");
  }
  EXPECT_EQ(slow->failure(), ProxyFailure::kBadReply);
}

TEST(ProxyHandshakeTest, CloseTimeoutAndTextEndAHandshakeInProgressOnly) {
  auto h = StartProxyHandshake(ProxyProtocol::kHttp, Request({"h", 1}, nullptr));
  h->Feed("HTTP/1.1 200");
  h->OnClosed();
  EXPECT_EQ(h->failure(), ProxyFailure::kBadReply);
  h->OnTimedOut();  // the first reason stays
  EXPECT_EQ(h->failure(), ProxyFailure::kBadReply);

  auto t = StartProxyHandshake(ProxyProtocol::kSocks5, Request({"h", 1}, nullptr));
  t->OnTimedOut();
  EXPECT_EQ(t->failure(), ProxyFailure::kTimeout);
  EXPECT_EQ(t->FailureText(), "超时");

  auto up = StartProxyHandshake(ProxyProtocol::kHttp, Request({"h", 1}, nullptr));
  up->Feed("HTTP/1.1 200 OK\r\n\r\nab");
  up->Feed("cd");
  up->OnClosed();
  EXPECT_EQ(up->state(), kUp);
  EXPECT_EQ(up->TakePayload(), "abcd");

  auto refused = StartProxyHandshake(ProxyProtocol::kHttp, Request({"h", 1}, nullptr));
  refused->Feed("HTTP/1.1 403 Forbidden\r\n\r\n");
  EXPECT_EQ(refused->FailureText(), "代理拒绝连接 (HTTP 403)");
  auto socks = StartProxyHandshake(ProxyProtocol::kSocks4, Request({"1.2.3.4", 1}, nullptr));
  socks->Feed(Bytes("00 5b 00 00 00 00 00 00"));
  EXPECT_EQ(socks->FailureText(), "代理拒绝连接 (0x5B)");
}

TEST(ProxyHandshakeTest, PartialSendsDrainTheOutput) {
  auto h = StartProxyHandshake(ProxyProtocol::kSocks5, Request({"h", 1}, nullptr));
  EXPECT_EQ(Shown(h->output()), Shown(Bytes("05 01 00")));
  h->ConsumeOutput(1);
  EXPECT_EQ(Shown(h->output()), Shown(Bytes("01 00")));
  h->ConsumeOutput(99);
  EXPECT_EQ(h->output(), "");
}

TEST(Socks4ClientTest, Conversations) {
  std::string plain = Bytes("04 01 00 50 01 02 03 04 00");
  std::string granted = Bytes("00 5a 00 00 00 00 00 00");
  RunAllCuts({
      C("granted with payload", ProxyProtocol::kSocks4, {"1.2.3.4", 80}, nullptr,
        {{plain, granted + "GET"}}, Up(0x5A, "GET")),
      C("user id, version byte 4", ProxyProtocol::kSocks4, {"1.2.3.4", 80}, kUserPass,
        {{Bytes("04 01 00 50 01 02 03 04 |user| 00"), Bytes("04 5a 01 bb 05 06 07 08")}}, Up(0x5A)),
      C("4a sends the name", ProxyProtocol::kSocks4a, {"example.com", 443}, nullptr,
        {{Bytes("04 01 01 bb 00 00 00 01 00 |example.com| 00"), granted}}, Up(0x5A)),
      C("4a with an address sends it", ProxyProtocol::kSocks4a, {"1.2.3.4", 80}, nullptr,
        {{plain, granted}}, Up(0x5A)),
      C("5b", ProxyProtocol::kSocks4, {"1.2.3.4", 80}, nullptr, {{plain, Bytes("00 5b")}},
        Failed(ProxyFailure::kRefused, 0x5B)),
      C("5c", ProxyProtocol::kSocks4, {"1.2.3.4", 80}, nullptr,
        {{plain, Bytes("00 5c 00 00 00 00 00 00")}}, Failed(ProxyFailure::kRefused, 0x5C)),
      C("5d", ProxyProtocol::kSocks4, {"1.2.3.4", 80}, nullptr,
        {{plain, Bytes("00 5d 00 00 00 00 00 00")}}, Failed(ProxyFailure::kRefused, 0x5D)),
      C("unknown code", ProxyProtocol::kSocks4, {"1.2.3.4", 80}, nullptr,
        {{plain, Bytes("00 42 00 00 00 00 00 00")}}, Failed(ProxyFailure::kBadReply, 0x42)),
      C("SOCKS5 server", ProxyProtocol::kSocks4, {"1.2.3.4", 80}, nullptr,
        {{plain, Bytes("05 ff")}}, Failed(ProxyFailure::kNotSocks4)),
      C("HTTP server", ProxyProtocol::kSocks4, {"1.2.3.4", 80}, nullptr,
        {{plain, "HTTP/1.1 400 Bad Request\r\n"}}, Failed(ProxyFailure::kNotSocks4)),
  });
}

TEST(Socks4ClientTest, RefusedBeforeSending) {
  const ProxyCredentials nul_user{std::string("a\0b", 3), ""};
  struct Case {
    ProxyProtocol protocol;
    NetTarget target;
    const ProxyCredentials* credentials;
    ProxyFailure failure;
  } cases[] = {
      {ProxyProtocol::kSocks4, {"example.com", 80}, {}, ProxyFailure::kSocks4NeedsIpv4},
      {ProxyProtocol::kSocks4, {"::1", 80}, {}, ProxyFailure::kSocks4NeedsIpv4},
      {ProxyProtocol::kSocks4a, {"::1", 80}, {}, ProxyFailure::kSocks4NeedsIpv4},
      {ProxyProtocol::kSocks4a, {"", 80}, {}, ProxyFailure::kBadTarget},
      {ProxyProtocol::kSocks4, {"1.2.3.4", 0}, {}, ProxyFailure::kBadTarget},
      {ProxyProtocol::kSocks4, {"1.2.3.4", 80}, &nul_user, ProxyFailure::kBadCredentials},
  };
  for (const Case& c : cases) {
    auto h = StartProxyHandshake(c.protocol, Request(c.target, c.credentials));
    EXPECT_EQ(h->failure(), c.failure) << c.target.host;
    EXPECT_EQ(h->output(), "") << c.target.host;
  }
}

const std::string kGreeting = Bytes("05 01 00");
const std::string kGreetingAuth = Bytes("05 02 00 02");
const std::string kConnectName = Bytes("05 01 00 03 0b |example.com| 01 bb");
const std::string kOkV4 = Bytes("05 00 00 01 0a 00 00 01 1f 90");

std::string DomainReply(size_t length) {
  return Bytes("05 00 00 03") + char(length) + std::string(length, 'b') + Bytes("00 35");
}

TEST(Socks5ClientTest, Conversations) {
  NetTarget t{"example.com", 443};
  std::string login = Bytes("01 04 |user| 04 |pass|");
  RunAllCuts({
      C("no auth, name", ProxyProtocol::kSocks5, t, nullptr,
        {{kGreeting, Bytes("05 00")}, {kConnectName, kOkV4 + "data"}}, Up(0, "data")),
      C("log-in, IPv4 target, IPv6 bound", ProxyProtocol::kSocks5, {"10.1.2.3", 80}, kUserPass,
        {{kGreetingAuth, Bytes("05 02")},
         {login, Bytes("01 00")},
         {Bytes("05 01 00 01 0a 01 02 03 00 50"),
          Bytes("05 00 00 04 20 01 0d b8 00 00 00 00 00 00 00 00 00 00 00 01 04 38 ff")}},
        Up(0, Bytes("ff"))),
      C("log-in offered, not needed", ProxyProtocol::kSocks5, t, kUserPass,
        {{kGreetingAuth, Bytes("05 00")}, {kConnectName, kOkV4}}, Up(0)),
      C("log-in answered with version 5", ProxyProtocol::kSocks5, t, kUserPass,
        {{kGreetingAuth, Bytes("05 02")}, {login, Bytes("05 00")}, {kConnectName, kOkV4}}, Up(0)),
      C("IPv6 target, empty domain bound", ProxyProtocol::kSocks5, {"[2001:db8::2]", 22}, nullptr,
        {{kGreeting, Bytes("05 00")},
         {Bytes("05 01 00 04 20 01 0d b8 00 00 00 00 00 00 00 00 00 00 00 02 00 16"),
          DomainReply(0) + "x"}},
        Up(0, "x")),
      C("domain bound of 255 bytes", ProxyProtocol::kSocks5, t, nullptr,
        {{kGreeting, Bytes("05 00")}, {kConnectName, DomainReply(255) + "tail"}}, Up(0, "tail")),
      C("greeting answered by HTTP", ProxyProtocol::kSocks5, t, nullptr,
        {{kGreeting, "HTTP/1.1 400 Bad Request\r\n\r\n"}}, Failed(ProxyFailure::kNotSocks5)),
      C("greeting answered by SOCKS4", ProxyProtocol::kSocks5, t, nullptr,
        {{kGreeting, Bytes("00 5b 00 00 00 00 00 00")}}, Failed(ProxyFailure::kNotSocks5)),
      C("no method, none offered", ProxyProtocol::kSocks5, t, nullptr,
        {{kGreeting, Bytes("05 ff")}}, Failed(ProxyFailure::kAuthRequired, 0xFF)),
      C("no method, log-in offered", ProxyProtocol::kSocks5, t, kUserPass,
        {{kGreetingAuth, Bytes("05 ff")}}, Failed(ProxyFailure::kNoAcceptableMethod, 0xFF)),
      C("log-in chosen though not offered", ProxyProtocol::kSocks5, t, nullptr,
        {{kGreeting, Bytes("05 02")}}, Failed(ProxyFailure::kBadReply, 2)),
      C("GSSAPI chosen", ProxyProtocol::kSocks5, t, kUserPass, {{kGreetingAuth, Bytes("05 01")}},
        Failed(ProxyFailure::kBadReply, 1)),
      C("log-in refused", ProxyProtocol::kSocks5, t, kUserPass,
        {{kGreetingAuth, Bytes("05 02")}, {login, Bytes("01 01")}},
        Failed(ProxyFailure::kAuthRefused, 1)),
      C("reply version wrong", ProxyProtocol::kSocks5, t, nullptr,
        {{kGreeting, Bytes("05 00")}, {kConnectName, Bytes("04 00 00 01 00 00 00 00 00 00")}},
        Failed(ProxyFailure::kBadReply)),
      C("reply address type unknown", ProxyProtocol::kSocks5, t, nullptr,
        {{kGreeting, Bytes("05 00")}, {kConnectName, Bytes("05 00 00 02 00 00 00 00 00 00")}},
        Failed(ProxyFailure::kBadReply, 0)),
      C("reply short of its port", ProxyProtocol::kSocks5, t, nullptr,
        {{kGreeting, Bytes("05 00")}, {kConnectName, Bytes("05 00 00 01 0a 00 00 01 1f")}},
        Pending()),
  });
}

std::string CodeReply(uint8_t code) {
  return Bytes("05") + char(code) + Bytes("00 01 00 00 00 00 00 00");
}

TEST(Socks5ClientTest, ReplyCodes) {
  NetTarget t{"example.com", 443};
  RunAllCuts({
      C("code 1", ProxyProtocol::kSocks5, t, nullptr,
        {{kGreeting, Bytes("05 00")}, {kConnectName, CodeReply(0x01)}},
        Failed(ProxyFailure::kProxyInternalError, 0x01)),
      C("code 2", ProxyProtocol::kSocks5, t, nullptr,
        {{kGreeting, Bytes("05 00")}, {kConnectName, CodeReply(0x02)}},
        Failed(ProxyFailure::kRefused, 0x02)),
      C("code 3", ProxyProtocol::kSocks5, t, nullptr,
        {{kGreeting, Bytes("05 00")}, {kConnectName, CodeReply(0x03)}},
        Failed(ProxyFailure::kNetworkUnreachable, 0x03)),
      C("code 4", ProxyProtocol::kSocks5, t, nullptr,
        {{kGreeting, Bytes("05 00")}, {kConnectName, CodeReply(0x04)}},
        Failed(ProxyFailure::kHostUnreachable, 0x04)),
      C("code 5", ProxyProtocol::kSocks5, t, nullptr,
        {{kGreeting, Bytes("05 00")}, {kConnectName, CodeReply(0x05)}},
        Failed(ProxyFailure::kTargetRefused, 0x05)),
      C("code 6", ProxyProtocol::kSocks5, t, nullptr,
        {{kGreeting, Bytes("05 00")}, {kConnectName, CodeReply(0x06)}},
        Failed(ProxyFailure::kTargetTimedOut, 0x06)),
      C("code 7", ProxyProtocol::kSocks5, t, nullptr,
        {{kGreeting, Bytes("05 00")}, {kConnectName, CodeReply(0x07)}},
        Failed(ProxyFailure::kCommandNotSupported, 0x07)),
      C("code 8", ProxyProtocol::kSocks5, t, nullptr,
        {{kGreeting, Bytes("05 00")}, {kConnectName, CodeReply(0x08)}},
        Failed(ProxyFailure::kAddressTypeNotSupported, 0x08)),
      C("code 9", ProxyProtocol::kSocks5, t, nullptr,
        {{kGreeting, Bytes("05 00")}, {kConnectName, CodeReply(0x09)}},
        Failed(ProxyFailure::kBadReply, 0x09)),
      C("code 255", ProxyProtocol::kSocks5, t, nullptr,
        {{kGreeting, Bytes("05 00")}, {kConnectName, CodeReply(0xff)}},
        Failed(ProxyFailure::kBadReply, 0xff)),
  });
}

TEST(Socks5ClientTest, BoundAddress) {
  struct Case {
    std::string reply;
    const char* host;
    uint16_t port;
  } cases[] = {
      {kOkV4, "10.0.0.1", 8080},
      {Bytes("05 00 00 04 20 01 0d b8 00 00 00 00 00 00 00 00 00 00 ab cd 00 50"),
       "2001:db8:0:0:0:0:0:abcd", 80},
      {Bytes("05 00 00 03 05 |proxy| 04 00"), "proxy", 1024},
  };
  for (const Case& c : cases) {
    Socks5Client client(Request({"h", 1}, nullptr));
    client.TakeOutput();
    client.Feed(Bytes("05 00"));
    client.TakeOutput();
    for (char b : c.reply) client.Feed(std::string_view(&b, 1));
    ASSERT_EQ(client.state(), kUp) << c.host;
    EXPECT_EQ(client.bound().host, c.host);
    EXPECT_EQ(client.bound().port, c.port);
  }
}

TEST(Socks5ClientTest, RefusedBeforeSending) {
  const ProxyCredentials empty_user{"", "p"}, long_user{std::string(256, 'u'), "p"},
      long_password{"u", std::string(256, 'p')};
  struct Case {
    NetTarget target;
    const ProxyCredentials* credentials;
    ProxyFailure failure;
  } cases[] = {
      {{std::string(256, 'a'), 80}, {}, ProxyFailure::kBadTarget},
      {{"fe80::1%1", 80}, {}, ProxyFailure::kBadTarget},
      {{"h", 0}, {}, ProxyFailure::kBadTarget},
      {{"h", 80}, &empty_user, ProxyFailure::kBadCredentials},
      {{"h", 80}, &long_user, ProxyFailure::kBadCredentials},
      {{"h", 80}, &long_password, ProxyFailure::kBadCredentials},
  };
  for (const Case& c : cases) {
    auto h = StartProxyHandshake(ProxyProtocol::kSocks5, Request(c.target, c.credentials));
    EXPECT_EQ(h->failure(), c.failure) << c.target.host;
    EXPECT_EQ(h->output(), "") << c.target.host;
  }
}

TEST(Socks5ClientTest, LongestNameAndCredentialsAreSent) {
  ProxyCredentials longest{std::string(255, 'u'), std::string(255, 'p')};
  auto h =
      StartProxyHandshake(ProxyProtocol::kSocks5, Request({std::string(255, 'a'), 80}, &longest));
  EXPECT_EQ(Shown(h->TakeOutput()), Shown(kGreetingAuth));
  h->Feed(Bytes("05 02"));
  EXPECT_EQ(h->TakeOutput(), Bytes("01 ff") + longest.user + Bytes("ff") + longest.password);
  h->Feed(Bytes("01 00"));
  EXPECT_EQ(h->TakeOutput(), Bytes("05 01 00 03 ff") + std::string(255, 'a') + Bytes("00 50"));
}

}  // namespace
}  // namespace core
