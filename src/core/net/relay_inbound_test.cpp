#include "core/net/relay_inbound.h"

#include <gtest/gtest.h>

#include "core/net/net_testing.h"
#include "core/net/proxy_handshake.h"

namespace core {
namespace {

constexpr uint16_t kListenPort = 7000;

struct Accepted {
  const char* name;
  std::string input;
  InboundKind kind;
  const char* host;
  uint16_t port;
  std::string output;   // what the relay sent while reading (the SOCKS5 method choice)
  std::string payload;  // bytes past the request
  const char* origin_head;
  const char* absolute_head;
};

// Feeds `input` whole or one byte at a time and takes the output as it comes.
RelayInbound FeedAll(const std::string& input, bool bytewise, std::string* output,
                     size_t head_limit = kMaxHttpHead) {
  RelayInbound in({kListenPort, head_limit});
  if (bytewise) {
    for (char b : input) {
      in.Feed(std::string_view(&b, 1));
      *output += in.TakeOutput();
    }
  } else {
    in.Feed(input);
    *output += in.TakeOutput();
  }
  return in;
}

TEST(RelayInboundTest, AcceptedRequests) {
  const Accepted cases[] = {
      {"CONNECT with early TLS bytes",
       "CONNECT example.com:443 HTTP/1.1\r\nHost: example.com:443\r\n\r\n\x16\x03",
       InboundKind::kHttpConnect, "example.com", 443, "", "\x16\x03", "", ""},
      {"CONNECT to IPv6, LF lines", "CONNECT [::1]:8080 HTTP/1.0\n\n", InboundKind::kHttpConnect,
       "::1", 8080, "", "", "", ""},
      {"CONNECT to loopback on another port", "CONNECT 127.0.0.1:7001 HTTP/1.1\r\n\r\n",
       InboundKind::kHttpConnect, "127.0.0.1", 7001, "", "", "", ""},
      {"GET with hop fields and a Host of its own",
       "GET http://example.com/a?b=1 HTTP/1.1\r\nHost: other.example\r\nProxy-Connection: "
       "keep-alive\r\nProxy-Authorization: Basic eDp5\r\nAccept: */*\r\nConnection: keep-alive"
       "\r\nKeep-Alive: 300\r\n\r\n",
       InboundKind::kHttpRequest, "example.com", 80, "", "",
       "GET /a?b=1 HTTP/1.1\r\nHost: example.com\r\nAccept: */*\r\nConnection: close\r\n\r\n",
       "GET http://example.com/a?b=1 HTTP/1.1\r\nHost: example.com\r\nAccept: */*\r\n"
       "Proxy-Authorization: Basic dXNlcjpwYXNz\r\nConnection: close\r\n\r\n"},
      {"POST without Host, user info, query only, body",
       "POST HTTP://u:p@h.example:8080?q HTTP/1.0\r\nContent-Length: 3\r\n\r\nx=1",
       InboundKind::kHttpRequest, "h.example", 8080, "", "x=1",
       "POST /?q HTTP/1.0\r\nHost: h.example:8080\r\nContent-Length: 3\r\nConnection: "
       "close\r\n\r\n",
       "POST http://h.example:8080/?q HTTP/1.0\r\nHost: h.example:8080\r\nContent-Length: "
       "3\r\nProxy-Authorization: Basic dXNlcjpwYXNz\r\nConnection: close\r\n\r\n"},
      {"GET to IPv6 without path", "GET http://[2001:db8::1]:81 HTTP/1.1\r\n\r\n",
       InboundKind::kHttpRequest, "2001:db8::1", 81, "", "",
       "GET / HTTP/1.1\r\nHost: [2001:db8::1]:81\r\nConnection: close\r\n\r\n",
       "GET http://[2001:db8::1]:81/ HTTP/1.1\r\nHost: [2001:db8::1]:81\r\nProxy-Authorization: "
       "Basic dXNlcjpwYXNz\r\nConnection: close\r\n\r\n"},
      {"SOCKS5 name", Bytes("05 01 00 05 01 00 03 0b |example.com| 01 bb |hello|"),
       InboundKind::kSocks5Connect, "example.com", 443, Bytes("05 00"), "hello", "", ""},
      {"SOCKS5 offering log-in too", Bytes("05 02 02 00 05 01 00 01 0a 00 00 01 00 50"),
       InboundKind::kSocks5Connect, "10.0.0.1", 80, Bytes("05 00"), "", "", ""},
      {"SOCKS5 IPv6",
       Bytes("05 01 00 05 01 00 04 20 01 0d b8 00 00 00 00 00 00 00 00 00 00 00 01 01 bb"),
       InboundKind::kSocks5Connect, "2001:db8:0:0:0:0:0:1", 443, Bytes("05 00"), "", "", ""},
  };
  ProxyCredentials upstream{"user", "pass"};
  for (const Accepted& c : cases) {
    for (bool bytewise : {false, true}) {
      SCOPED_TRACE(testing::Message() << c.name << (bytewise ? " bytewise" : ""));
      std::string output;
      RelayInbound in = FeedAll(c.input, bytewise, &output);
      ASSERT_EQ(in.state(), InboundState::kReady) << InboundRefusalText(in.refusal());
      EXPECT_EQ(in.kind(), c.kind);
      EXPECT_EQ(in.target().host, c.host);
      EXPECT_EQ(in.target().port, c.port);
      EXPECT_EQ(Shown(output), Shown(c.output));
      EXPECT_EQ(Shown(in.TakeEarlyPayload()), Shown(c.payload));
      EXPECT_EQ(in.OriginFormHead(), c.origin_head);
      EXPECT_EQ(in.AbsoluteFormHead(&upstream), c.absolute_head);
    }
  }
}

struct Refused {
  const char* name;
  std::string input;
  InboundRefusal refusal;
  std::string reply_start;  // the refusal's first bytes
};

TEST(RelayInboundTest, RefusedRequests) {
  std::string socks_failure = Bytes("05 00 05 01 00 01 00 00 00 00 00 00");
  const Refused cases[] = {
      {"TLS hello", Bytes("16 03 01 00 05"), InboundRefusal::kGarbage, "HTTP/1.1 400 "},
      {"not a method", "G@T / HTTP/1.1", InboundRefusal::kGarbage, "HTTP/1.1 400 "},
      {"method too long", std::string(30, 'A'), InboundRefusal::kGarbage, "HTTP/1.1 400 "},
      {"no version", "GET http://h/\r\n\r\n", InboundRefusal::kGarbage, "HTTP/1.1 400 "},
      {"HTTP/2 line", "GET http://h/ HTTP/2.0\r\n\r\n", InboundRefusal::kGarbage, "HTTP/1.1 400 "},
      {"two blanks", "GET  http://h/ HTTP/1.1\r\n\r\n", InboundRefusal::kGarbage, "HTTP/1.1 400 "},
      {"length twice over",
       "POST http://h/ HTTP/1.1\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n",
       InboundRefusal::kBadFraming, "HTTP/1.1 400 "},
      {"a coding the relay cannot frame",
       "POST http://h/ HTTP/1.1\r\nTransfer-Encoding: gzip, chunked\r\n\r\n",
       InboundRefusal::kBadFraming, "HTTP/1.1 400 "},
      {"folded field", "GET http://h/ HTTP/1.1\r\nA: b\r\n c\r\n\r\n", InboundRefusal::kGarbage,
       "HTTP/1.1 400 "},
      {"origin form", "GET / HTTP/1.1\r\nHost: h\r\n\r\n", InboundRefusal::kNotProxyRequest,
       "HTTP/1.1 400 "},
      {"https URL", "GET https://h/ HTTP/1.1\r\n\r\n", InboundRefusal::kNotProxyRequest,
       "HTTP/1.1 400 "},
      {"CONNECT without port", "CONNECT example.com HTTP/1.1\r\n\r\n", InboundRefusal::kBadTarget,
       "HTTP/1.1 400 "},
      {"CONNECT bad port", "CONNECT h:99999 HTTP/1.1\r\n\r\n", InboundRefusal::kBadTarget,
       "HTTP/1.1 400 "},
      {"GET bad host", "GET http://a_b!c/ HTTP/1.1\r\n\r\n", InboundRefusal::kBadTarget,
       "HTTP/1.1 400 "},
      {"CONNECT to itself", "CONNECT 127.0.0.1:7000 HTTP/1.1\r\n\r\n", InboundRefusal::kLoop,
       "HTTP/1.1 403 "},
      {"CONNECT to itself by name", "CONNECT LOCALHOST:7000 HTTP/1.1\r\n\r\n",
       InboundRefusal::kLoop, "HTTP/1.1 403 "},
      {"GET to itself", "GET http://[::1]:7000/ HTTP/1.1\r\n\r\n", InboundRefusal::kLoop,
       "HTTP/1.1 403 "},
      {"head over the limit", "GET http://h/ HTTP/1.1\r\nX: " + std::string(kMaxHttpHead, 'a'),
       InboundRefusal::kHeadTooLarge, "HTTP/1.1 431 "},
      {"SOCKS4", Bytes("04 01 00 50 01 02 03 04 00"), InboundRefusal::kSocks4,
       Bytes("00 5b 00 00 00 00 00 00")},
      {"SOCKS5 log-in only", Bytes("05 01 02"), InboundRefusal::kAuthOnly, Bytes("05 ff")},
      {"SOCKS5 no methods", Bytes("05 00"), InboundRefusal::kAuthOnly, Bytes("05 ff")},
      {"SOCKS5 BIND", Bytes("05 01 00 05 02 00 01 01 02 03 04 00 50"),
       InboundRefusal::kUnsupportedCommand, Bytes("05 00 05 07 00 01 00 00 00 00 00 00")},
      {"SOCKS5 UDP", Bytes("05 01 00 05 03 00 01 01 02 03 04 00 50"),
       InboundRefusal::kUnsupportedCommand, Bytes("05 00 05 07")},
      {"SOCKS5 address type 2", Bytes("05 01 00 05 01 00 02 00 00"),
       InboundRefusal::kBadAddressType, Bytes("05 00 05 08")},
      {"SOCKS5 empty name", Bytes("05 01 00 05 01 00 03 00 00 50"), InboundRefusal::kBadTarget,
       socks_failure},
      {"SOCKS5 port 0", Bytes("05 01 00 05 01 00 01 01 02 03 04 00 00"), InboundRefusal::kBadTarget,
       socks_failure},
      {"SOCKS5 name with CR LF", Bytes("05 01 00 05 01 00 03 03 61 0d 0a 00 50"),
       InboundRefusal::kBadTarget, socks_failure},
      {"SOCKS5 request version 4", Bytes("05 01 00 04 01 00 01"), InboundRefusal::kGarbage,
       socks_failure},
      {"SOCKS5 to itself", Bytes("05 01 00 05 01 00 01 7f 00 00 01 1b 58"), InboundRefusal::kLoop,
       Bytes("05 00 05 02")},
  };
  for (const Refused& c : cases) {
    for (bool bytewise : {false, true}) {
      SCOPED_TRACE(testing::Message() << c.name << (bytewise ? " bytewise" : ""));
      std::string output;
      RelayInbound in = FeedAll(c.input, bytewise, &output);
      EXPECT_EQ(in.state(), InboundState::kRefused);
      EXPECT_EQ(in.refusal(), c.refusal);
      EXPECT_EQ(Shown(output.substr(0, c.reply_start.size())), Shown(c.reply_start));
      EXPECT_EQ(in.TakeEarlyPayload(), "");
      EXPECT_EQ(in.Feed("more"), InboundState::kRefused);
      EXPECT_EQ(in.TakeOutput(), "");
    }
  }
}

// A relay with a log-in of its own: "alice:s3cret" is YWxpY2U6czNjcmV0.
TEST(RelayInboundTest, ClientLogIn) {
  struct Case {
    const char* name;
    std::string input;
    InboundState state;
    InboundRefusal refusal;
    std::string output_start;
  } cases[] = {
      {"SOCKS5 right log-in",
       Bytes("05 01 02 01 05 |alice| 06 |s3cret| 05 01 00 01 7f 00 00 01 00 50"),
       InboundState::kReady, InboundRefusal::kNone, Bytes("05 02 01 00")},
      {"SOCKS5 wrong password", Bytes("05 02 00 02 01 05 |alice| 04 |nope|"),
       InboundState::kRefused, InboundRefusal::kLoginRefused, Bytes("05 02 01 01")},
      {"SOCKS5 wrong user", Bytes("05 01 02 01 03 |bob| 06 |s3cret|"), InboundState::kRefused,
       InboundRefusal::kLoginRefused, Bytes("05 02 01 01")},
      {"SOCKS5 no log-in offered", Bytes("05 01 00"), InboundState::kRefused,
       InboundRefusal::kLoginRequired, Bytes("05 ff")},
      {"SOCKS5 log-in of another version", Bytes("05 01 02 05 01 00"), InboundState::kRefused,
       InboundRefusal::kLoginRefused, Bytes("05 02 01 01")},
      {"HTTP right log-in",
       "CONNECT h:1 HTTP/1.1\r\nProxy-Authorization: basic  YWxpY2U6czNjcmV0\r\n\r\n",
       InboundState::kReady, InboundRefusal::kNone, ""},
      {"HTTP without log-in", "GET http://h/ HTTP/1.1\r\n\r\n", InboundState::kRefused,
       InboundRefusal::kLoginRequired,
       "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic"},
      {"HTTP wrong password",
       "CONNECT h:1 HTTP/1.1\r\nProxy-Authorization: Basic YWxpY2U6czNjcmV1\r\n\r\n",
       InboundState::kRefused, InboundRefusal::kLoginRefused, "HTTP/1.1 407 "},
      {"HTTP other scheme", "CONNECT h:1 HTTP/1.1\r\nProxy-Authorization: Digest x\r\n\r\n",
       InboundState::kRefused, InboundRefusal::kLoginRefused, "HTTP/1.1 407 "},
      {"HTTP no colon", "CONNECT h:1 HTTP/1.1\r\nProxy-Authorization: Basic YWxpY2U=\r\n\r\n",
       InboundState::kRefused, InboundRefusal::kLoginRefused, "HTTP/1.1 407 "},
  };
  for (const Case& c : cases) {
    for (bool bytewise : {false, true}) {
      SCOPED_TRACE(testing::Message() << c.name << (bytewise ? " bytewise" : ""));
      RelayInbound in({kListenPort, kMaxHttpHead, ProxyCredentials{"alice", "s3cret"}});
      std::string output;
      for (size_t i = 0; i < c.input.size(); i += bytewise ? 1 : c.input.size()) {
        in.Feed(std::string_view(c.input).substr(i, bytewise ? 1 : std::string::npos));
        output += in.TakeOutput();
      }
      EXPECT_EQ(in.state(), c.state);
      EXPECT_EQ(in.refusal(), c.refusal);
      EXPECT_EQ(Shown(output.substr(0, c.output_start.size())), Shown(c.output_start));
    }
  }
}

TEST(RelayInboundTest, HeadLimitIsExact) {
  std::string head = "CONNECT h:1 HTTP/1.1\r\nX: ";
  head += std::string(100 - head.size() - 4, 'a') + "\r\n\r\n";
  ASSERT_EQ(head.size(), 100u);
  std::string output;
  EXPECT_EQ(FeedAll(head, false, &output, 100).state(), InboundState::kReady);
  EXPECT_EQ(FeedAll(head, false, &output, 99).refusal(), InboundRefusal::kHeadTooLarge);
  EXPECT_EQ(FeedAll(head, true, &output, 99).refusal(), InboundRefusal::kHeadTooLarge);
}

TEST(RelayInboundTest, Replies) {
  struct Case {
    std::string input;
    ProxyFailure why;
    std::string success;
    std::string failure_start;
  } cases[] = {
      {"CONNECT h:1 HTTP/1.1\r\n\r\n", ProxyFailure::kRefused,
       "HTTP/1.1 200 Connection established\r\n\r\n", "HTTP/1.1 502 Bad Gateway\r\n"},
      {"CONNECT h:1 HTTP/1.1\r\n\r\n", ProxyFailure::kTimeout,
       "HTTP/1.1 200 Connection established\r\n\r\n", "HTTP/1.1 504 Gateway Timeout\r\n"},
      {"GET http://h/ HTTP/1.1\r\n\r\n", ProxyFailure::kTargetTimedOut, "",
       "HTTP/1.1 504 Gateway Timeout\r\n"},
      {"GET http://h/ HTTP/1.1\r\n\r\n", ProxyFailure::kHostUnreachable, "",
       "HTTP/1.1 502 Bad Gateway\r\n"},
  };
  for (const Case& c : cases) {
    std::string output;
    RelayInbound in = FeedAll(c.input, false, &output);
    EXPECT_EQ(in.SuccessReply(), c.success) << c.input;
    std::string failure = in.FailureReply(c.why);
    EXPECT_EQ(failure.substr(0, c.failure_start.size()), c.failure_start) << c.input;
    EXPECT_NE(failure.find(ProxyFailureText(c.why)), std::string::npos) << c.input;
  }
}

// The relay's SOCKS5 replies read back by the client machine: each failure arrives as
// the reason it was sent for, or the nearest one SOCKS5 can say.
TEST(RelayInboundTest, Socks5RepliesReadBackByTheClient) {
  struct Case {
    ProxyFailure sent;
    ProxyFailure read;
  } cases[] = {
      {ProxyFailure::kNone, ProxyFailure::kNone},  // the success reply
      {ProxyFailure::kNetworkUnreachable, ProxyFailure::kNetworkUnreachable},
      {ProxyFailure::kHostUnreachable, ProxyFailure::kHostUnreachable},
      {ProxyFailure::kTargetRefused, ProxyFailure::kTargetRefused},
      {ProxyFailure::kTargetTimedOut, ProxyFailure::kTargetTimedOut},
      {ProxyFailure::kTimeout, ProxyFailure::kTargetTimedOut},
      {ProxyFailure::kAddressTypeNotSupported, ProxyFailure::kAddressTypeNotSupported},
      {ProxyFailure::kSocks4NeedsIpv4, ProxyFailure::kAddressTypeNotSupported},
      {ProxyFailure::kRefused, ProxyFailure::kRefused},
      {ProxyFailure::kAuthRefused, ProxyFailure::kProxyInternalError},
      {ProxyFailure::kBadReply, ProxyFailure::kProxyInternalError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ProxyFailureText(c.sent));
    HandshakeRequest request;
    request.target = {"example.com", 443};
    auto client = StartProxyHandshake(ProxyProtocol::kSocks5, request);
    RelayInbound relay({kListenPort, kMaxHttpHead});
    // Greeting, method choice, request: each side's bytes go to the other.
    relay.Feed(client->TakeOutput());
    client->Feed(relay.TakeOutput());
    relay.Feed(client->TakeOutput());
    ASSERT_EQ(relay.state(), InboundState::kReady);
    EXPECT_EQ(relay.target().host, "example.com");
    EXPECT_EQ(relay.target().port, 443);
    bool ok = c.sent == ProxyFailure::kNone;
    client->Feed(ok ? relay.SuccessReply() : relay.FailureReply(c.sent));
    EXPECT_EQ(client->state(), ok ? HandshakeState::kTunnelUp : HandshakeState::kFailed);
    EXPECT_EQ(client->failure(), c.read);
  }
}

TEST(RelayInboundTest, HttpConnectReadBackByTheClient) {
  for (bool ok : {true, false}) {
    HandshakeRequest request;
    request.target = {"2001:db8::7", 993};
    request.credentials = ProxyCredentials{"u", "p"};
    auto client = StartProxyHandshake(ProxyProtocol::kHttp, request);
    RelayInbound relay({kListenPort, kMaxHttpHead});
    relay.Feed(client->TakeOutput());
    ASSERT_EQ(relay.state(), InboundState::kReady);
    EXPECT_EQ(relay.kind(), InboundKind::kHttpConnect);
    EXPECT_EQ(relay.target().host, "2001:db8::7");
    client->Feed(ok ? relay.SuccessReply() + "payload"
                    : relay.FailureReply(ProxyFailure::kHostUnreachable));
    EXPECT_EQ(client->state(), ok ? HandshakeState::kTunnelUp : HandshakeState::kFailed);
    EXPECT_EQ(client->reply_code(), ok ? 200 : 502);
    EXPECT_EQ(client->TakePayload(), ok ? "payload" : "");
  }
}

}  // namespace
}  // namespace core
