#include "core/net/relay_session.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "core/net/net_testing.h"

namespace core {
namespace {

enum class Ev { kClient, kClientClosed, kConnected, kConnectFailed, kUp, kUpClosed, kTimeout };

struct Step {
  Ev ev;
  std::string bytes = {};
};

struct Scenario {
  const char* name;
  std::vector<Step> steps;
  RelayPhase phase;
  size_t attempt;        // the candidate in use at the end
  std::string client;    // every byte the client was sent
  std::string upstream;  // every byte the last candidate was sent
  std::vector<ProxyFailure> failures;
  const char* reason;  // a part of end_reason(); "" when it must be empty
  int connects = -1;   // connects() at the end (fresh sockets asked for); -1: any
};

RelayCandidate Candidate(ProxyProtocol protocol, const char* label, bool with_login = false) {
  RelayCandidate c;
  c.upstream.proxy = {"127.0.0.1", 1080};
  c.upstream.protocol = protocol;
  if (with_login) c.upstream.credentials = ProxyCredentials{"user", "pass"};
  c.label = label;
  return c;
}

const std::string kSocks5Greeting = Bytes("05 01 00");
const std::string kSocks5Connect = Bytes("05 01 00 03 0b |example.com| 01 bb");
const std::string kSocks5Ok = Bytes("05 00 00 01 0a 00 00 01 1f 90");
const std::string kConnectIn = "CONNECT example.com:443 HTTP/1.1\r\n\r\n";
const std::string kConnectOut = "CONNECT example.com:443 HTTP/1.1\r\nHost: example.com:443\r\n\r\n";
const std::string kEstablished = "HTTP/1.1 200 Connection established\r\n\r\n";
const std::string kGetIn = "GET http://example.com/a HTTP/1.1\r\nAccept: */*\r\n\r\n";
const std::string kGetOut =
    "GET http://example.com/a HTTP/1.1\r\nHost: example.com\r\nAccept: */*\r\nConnection: "
    "close\r\n\r\n";

// Three SOCKS5 candidates, then a fourth the session must never reach; rows 101-104.
std::vector<RelayCandidate> Socks5Farm() {
  std::vector<RelayCandidate> farm = {
      Candidate(ProxyProtocol::kSocks5, "a:1"), Candidate(ProxyProtocol::kSocks5, "b:2"),
      Candidate(ProxyProtocol::kSocks5, "c:3"), Candidate(ProxyProtocol::kSocks5, "d:4")};
  for (size_t i = 0; i < farm.size(); ++i) farm[i].row = 101 + i;
  return farm;
}

// `held`: the session's first candidate is connected already (see UseHeld).
void RunScenario(const Scenario& s, std::vector<RelayCandidate> candidates,
                 std::function<std::unique_ptr<ProxyHandshake>()> held = nullptr) {
  SCOPED_TRACE(s.name);
  std::vector<uint64_t> rows;
  for (const RelayCandidate& c : candidates) rows.push_back(c.row);
  RelaySession session({7000, 64}, std::move(candidates));
  if (held) session.UseHeld(held());
  std::string client;
  std::map<size_t, std::string> upstream;
  for (const Step& step : s.steps) {
    switch (step.ev) {
      case Ev::kClient:
        session.OnClientData(step.bytes);
        break;
      case Ev::kClientClosed:
        session.OnClientClosed();
        break;
      case Ev::kConnected:
        session.OnUpstreamConnected();
        break;
      case Ev::kConnectFailed:
        session.OnUpstreamConnectFailed();
        break;
      case Ev::kUp:
        session.OnUpstreamData(step.bytes);
        break;
      case Ev::kUpClosed:
        session.OnUpstreamClosed();
        break;
      case Ev::kTimeout:
        session.OnTimedOut();
        break;
    }
    client += session.TakeClientOutput();
    if (session.phase() != RelayPhase::kReadingRequest && session.phase() != RelayPhase::kClosing)
      upstream[session.attempt()] += session.TakeUpstreamOutput();
  }
  EXPECT_EQ(session.phase(), s.phase);
  if (s.phase == RelayPhase::kClosing) {
    // Failure replies carry the reason as text after the status line.
    EXPECT_EQ(Shown(client.substr(0, s.client.size())), Shown(s.client));
    EXPECT_EQ(client.empty(), s.client.empty());
  } else {
    EXPECT_EQ(Shown(client), Shown(s.client));
  }
  if (s.phase != RelayPhase::kReadingRequest && s.phase != RelayPhase::kClosing) {
    EXPECT_EQ(session.attempt(), s.attempt);
    EXPECT_EQ(Shown(upstream[s.attempt]), Shown(s.upstream));
  }
  if (s.connects >= 0) {
    EXPECT_EQ(session.connects(), size_t(s.connects));
  }
  std::vector<ProxyFailure> failures;
  for (const RelayAttemptFailure& f : session.failures()) {
    failures.push_back(f.failure);
    EXPECT_EQ(f.row, rows.at(f.attempt));  // each failure names its candidate's row
  }
  EXPECT_EQ(failures, s.failures);
  if (*s.reason == 0) {
    EXPECT_EQ(session.end_reason(), "");
  } else {
    EXPECT_NE(session.end_reason().find(s.reason), std::string::npos) << session.end_reason();
  }
}

TEST(RelaySessionTest, TunnelsThroughEachProtocol) {
  using P = ProxyProtocol;
  struct Case {
    Scenario s;
    RelayCandidate candidate;
  };
  const Case cases[] = {
      {{"SOCKS5 client through a SOCKS5 proxy, early bytes follow the handshake",
        {{Ev::kClient, kSocks5Greeting},
         {Ev::kClient, kSocks5Connect + "hi"},
         {Ev::kConnected},
         {Ev::kUp, Bytes("05 00")},
         {Ev::kUp, kSocks5Ok + "srv"}},
        RelayPhase::kPiping,
        0,
        Bytes("05 00") + Bytes("05 00 00 01 00 00 00 00 00 00") + "srv",
        kSocks5Greeting + kSocks5Connect + "hi",
        {},
        ""},
       Candidate(P::kSocks5, "s5")},
      {{"CONNECT through an HTTP proxy that wants a log-in",
        {{Ev::kClient, kConnectIn + "tls"}, {Ev::kConnected}, {Ev::kUp, "HTTP/1.1 200 OK\r\n\r\n"}},
        RelayPhase::kPiping,
        0,
        kEstablished,
        "CONNECT example.com:443 HTTP/1.1\r\nHost: example.com:443\r\nProxy-Authorization: Basic "
        "dXNlcjpwYXNz\r\n\r\ntls",
        {},
        ""},
       Candidate(P::kHttp, "h", true)},
      {{"a plain request goes to an HTTP proxy in absolute form at once",
        {{Ev::kClient, kGetIn}, {Ev::kConnected}},
        RelayPhase::kPiping,
        0,
        "",
        kGetOut,
        {},
        ""},
       Candidate(P::kHttp, "h")},
      {{"a plain request through SOCKS4a goes to the origin in origin form",
        {{Ev::kClient, kGetIn}, {Ev::kConnected}, {Ev::kUp, Bytes("00 5a 00 00 00 00 00 00")}},
        RelayPhase::kPiping,
        0,
        "",
        Bytes("04 01 00 50 00 00 00 01 00 |example.com| 00") +
            "GET /a HTTP/1.1\r\nHost: example.com\r\nAccept: */*\r\nConnection: close\r\n\r\n",
        {},
        ""},
       Candidate(P::kSocks4a, "s4a")},
  };
  for (const Case& c : cases) RunScenario(c.s, {c.candidate});
}

TEST(RelaySessionTest, EndsAndFailsOver) {
  const std::string socks_refused = Bytes("05 02 00 01 00 00 00 00 00 00");
  const std::string connect_c = kSocks5Greeting;  // what a fresh SOCKS5 attempt sends first
  const Scenario cases[] = {
      {"garbage is refused with the reason",
       {{Ev::kClient, "\x16\x03\x01 hello"}},
       RelayPhase::kClosing,
       0,
       "HTTP/1.1 400 Bad Request",
       "",
       {},
       "无法识别"},
      {"a head past the limit is refused",
       {{Ev::kClient, "GET http://a/ HTTP/1.1\r\n" + std::string(80, 'x')}},
       RelayPhase::kClosing,
       0,
       "HTTP/1.1 431",
       "",
       {},
       "太长"},
      {"a pipelined request after a plain one is not passed on",
       {{Ev::kClient, kGetIn + "GET http://example.com/b HTTP/1.1\r\nProxy-Authorization: Basic "
                               "eDp5\r\n\r\n"},
        {Ev::kConnected},
        {Ev::kUp, Bytes("05 00")},
        {Ev::kUp, kSocks5Ok}},
       RelayPhase::kPiping,
       0,
       "",
       kSocks5Greeting + Bytes("05 01 00 03 0b |example.com| 00 50") +
           "GET /a HTTP/1.1\r\nHost: example.com\r\nAccept: */*\r\nConnection: close\r\n\r\n",
       {},
       ""},
      {"a chunked body that does not parse is refused",
       {{Ev::kClient, "POST http://a/ HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n"}},
       RelayPhase::kClosing,
       0,
       "HTTP/1.1 400 Bad Request",
       "",
       {},
       "分块"},
      {"the client stops half way",
       {{Ev::kClient, "CONNECT exa"}, {Ev::kClientClosed}},
       RelayPhase::kClosing,
       0,
       "",
       "",
       {},
       "请求完整之前"},
      {"the client is silent past the deadline",
       {{Ev::kClient, "CONN"}, {Ev::kTimeout}},
       RelayPhase::kClosing,
       0,
       "",
       "",
       {},
       "超时"},
      {"the client leaves while the proxy is being reached",
       {{Ev::kClient, kConnectIn}, {Ev::kClientClosed}},
       RelayPhase::kClosing,
       0,
       "",
       "",
       {},
       "隧道建立之前"},
      {"each failure moves on; the third candidate carries the tunnel",
       {{Ev::kClient, kConnectIn},
        {Ev::kConnectFailed},
        {Ev::kConnected},
        {Ev::kUp, Bytes("05 00")},
        {Ev::kUp, socks_refused},
        {Ev::kConnected},
        {Ev::kUp, Bytes("05 00")},
        {Ev::kUp, kSocks5Ok}},
       RelayPhase::kPiping,
       2,
       kEstablished,
       connect_c + kSocks5Connect,
       {ProxyFailure::kProxyUnreachable, ProxyFailure::kRefused},
       ""},
      {"a close mid-handshake, garbage, a silent proxy: three attempts, no fourth",
       {{Ev::kClient, kConnectIn},
        {Ev::kConnected},
        {Ev::kUpClosed},
        {Ev::kConnected},
        {Ev::kUp, "HTTP/1.1 200 OK\r\n\r\n"},
        {Ev::kConnected},
        {Ev::kTimeout}},
       RelayPhase::kClosing,
       2,
       "HTTP/1.1 504 Gateway Timeout",
       "",
       {ProxyFailure::kBadReply, ProxyFailure::kNotSocks5, ProxyFailure::kTimeout},
       "c:3: "},
      {"a connect that never ends times out and moves on",
       {{Ev::kClient, kConnectIn}, {Ev::kTimeout}, {Ev::kConnected}},
       RelayPhase::kHandshaking,
       1,
       "",
       connect_c,
       {ProxyFailure::kTimeout},
       ""},
      {"the target refusing is not the proxy's fault: no other proxy is tried",
       {{Ev::kClient, kConnectIn},
        {Ev::kConnected},
        {Ev::kUp, Bytes("05 00")},
        {Ev::kUp, Bytes("05 05 00 01 00 00 00 00 00 00")}},
       RelayPhase::kClosing,
       0,
       "HTTP/1.1 502 Bad Gateway",
       "",
       {ProxyFailure::kTargetRefused},
       "a:1: "},
  };
  for (const Scenario& s : cases) RunScenario(s, Socks5Farm());
  // A candidate naming the relay's own port, in any spelling of this machine, is
  // passed over without a connect: the relay never connects to itself.
  std::vector<RelayCandidate> looped = Socks5Farm();
  looped[0].upstream.proxy = {"127.1", 7000};
  RunScenario({"the relay itself is passed over",
               {{Ev::kClient, kConnectIn},
                {Ev::kConnected},
                {Ev::kUp, Bytes("05 00")},
                {Ev::kUp, kSocks5Ok}},
               RelayPhase::kPiping,
               1,
               kEstablished,
               connect_c + kSocks5Connect,
               {ProxyFailure::kProxyUnreachable},
               "",
               1},
              looped);
}

// The engine sends the proxy's first bytes with the connect: they are ready as
// soon as an attempt starts (again for the next candidate), they are not said a
// second time once connected, and a failed candidate's bytes never reach the next.
TEST(RelaySessionTest, TheProxysFirstBytesAreReadyBeforeTheConnect) {
  using P = ProxyProtocol;
  const std::string s4a = Bytes("04 01 01 bb 00 00 00 01 00 |example.com| 00");
  const std::string connect_login =
      "CONNECT example.com:443 HTTP/1.1\r\nHost: example.com:443\r\nProxy-Authorization: Basic "
      "dXNlcjpwYXNz\r\n\r\n";
  struct Case {
    const char* name;
    std::string request;
    RelayCandidate candidate;
    std::string first;         // what the proxy is told before it answers
    RelayPhase after_connect;  // a plain request is piped at once
  };
  const Case cases[] = {
      {"SOCKS5 greeting", kConnectIn, Candidate(P::kSocks5, "a"), kSocks5Greeting,
       RelayPhase::kHandshaking},
      {"SOCKS5 greeting offering a log-in", kConnectIn, Candidate(P::kSocks5, "a", true),
       Bytes("05 02 00 02"), RelayPhase::kHandshaking},
      {"SOCKS4a request", kConnectIn, Candidate(P::kSocks4a, "a"), s4a, RelayPhase::kHandshaking},
      {"CONNECT with a log-in", kConnectIn, Candidate(P::kHttp, "a", true), connect_login,
       RelayPhase::kHandshaking},
      {"plain request in absolute form, with its body",
       "POST http://example.com/a HTTP/1.1\r\nContent-Length: 4\r\n\r\nbody",
       Candidate(P::kHttp, "a"),
       "POST http://example.com/a HTTP/1.1\r\nHost: example.com\r\nContent-Length: "
       "4\r\nConnection: close\r\n\r\nbody",
       RelayPhase::kPiping},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RelaySession session({7000, 4096}, {c.candidate, c.candidate});
    session.OnClientData(c.request);
    ASSERT_EQ(session.phase(), RelayPhase::kConnecting);
    EXPECT_EQ(Shown(session.TakeUpstreamOutput()), Shown(c.first));
    session.OnUpstreamConnectFailed();
    ASSERT_EQ(session.attempt(), 1u);
    EXPECT_EQ(Shown(session.TakeUpstreamOutput()), Shown(c.first));
    session.OnUpstreamConnected();
    EXPECT_EQ(session.phase(), c.after_connect);
    EXPECT_EQ(Shown(session.TakeUpstreamOutput()), "");
  }
}

// A connection opened ahead says what it can without a target (SOCKS5's greeting
// and log-in; nothing for the others) and rests; anything but its being taken
// ends it, silently: no client waits, no other proxy is tried.
TEST(RelaySessionTest, AConnectionOpenedAheadGreetsAndRests) {
  using P = ProxyProtocol;
  const std::string login = Bytes("01 04 |user| 04 |pass|");
  struct Case {
    const char* name;
    RelayCandidate candidate;
    std::vector<Step> steps;  // after the connect
    std::string said;         // every byte the proxy was sent
    RelayPhase phase;
  };
  const Case cases[] = {
      {"SOCKS5",
       Candidate(P::kSocks5, "a"),
       {{Ev::kUp, Bytes("05 00")}},
       kSocks5Greeting,
       RelayPhase::kHeld},
      {"SOCKS5 with a log-in, in pieces",
       Candidate(P::kSocks5, "a", true),
       {{Ev::kUp, Bytes("05")}, {Ev::kUp, Bytes("02")}, {Ev::kUp, Bytes("01 00")}},
       Bytes("05 02 00 02") + login,
       RelayPhase::kHeld},
      {"HTTP: the connection alone", Candidate(P::kHttp, "a"), {}, "", RelayPhase::kHeld},
      {"the proxy speaks unasked",
       Candidate(P::kSocks5, "a"),
       {{Ev::kUp, Bytes("05 00")}, {Ev::kUp, "x"}},
       kSocks5Greeting,
       RelayPhase::kClosing},
      {"the greeting's answer and more in one piece",
       Candidate(P::kSocks5, "a"),
       {{Ev::kUp, Bytes("05 00 05")}},
       kSocks5Greeting,
       RelayPhase::kClosing},
      {"the proxy drops it", Candidate(P::kHttp, "a"), {{Ev::kUpClosed}}, "", RelayPhase::kClosing},
      {"unused past its time",
       Candidate(P::kSocks5, "a"),
       {{Ev::kUp, Bytes("05 00")}, {Ev::kTimeout}},
       kSocks5Greeting,
       RelayPhase::kClosing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RelaySession session({7000, 64}, {c.candidate, Candidate(P::kSocks5, "b")});
    session.OpenAhead();
    ASSERT_EQ(session.phase(), RelayPhase::kConnecting);
    std::string said = session.TakeUpstreamOutput();
    session.OnUpstreamConnected();
    for (const Step& step : c.steps) {
      if (step.ev == Ev::kUp) session.OnUpstreamData(step.bytes);
      if (step.ev == Ev::kUpClosed) session.OnUpstreamClosed();
      if (step.ev == Ev::kTimeout) session.OnTimedOut();
      said += session.TakeUpstreamOutput();
    }
    EXPECT_EQ(session.phase(), c.phase);
    EXPECT_EQ(Shown(said), Shown(c.said));
    EXPECT_EQ(session.attempt(), 0u);
    EXPECT_EQ(session.TakeClientOutput(), "");
    EXPECT_TRUE(session.failures().empty());
  }
}

// A client on a held connection starts with its request; a held connection that
// closes without a word (dropped while idle) is replaced by a fresh one to the
// same proxy, unreported; a proxy that answers is judged as any other.
TEST(RelaySessionTest, AClientStartsWithItsRequestOnAHeldConnection) {
  const std::string refused = Bytes("05 01 00 01 00 00 00 00 00 00");
  auto greeted = [] {
    RelaySession ahead({7000, 64}, Socks5Farm());
    ahead.OpenAhead();
    ahead.OnUpstreamConnected();
    ahead.OnUpstreamData(Bytes("05 00"));
    return ahead.TakeHeldHandshake();
  };
  const Scenario socks5[] = {
      {"the request goes out at once",
       {{Ev::kClient, kSocks5Greeting}, {Ev::kClient, kSocks5Connect}, {Ev::kUp, kSocks5Ok}},
       RelayPhase::kPiping,
       0,
       Bytes("05 00 05 00 00 01 00 00 00 00 00 00"),
       kSocks5Connect,
       {},
       "",
       0},
      {"dropped as it was used: the same proxy afresh",
       {{Ev::kClient, kConnectIn},
        {Ev::kUpClosed},
        {Ev::kConnected},
        {Ev::kUp, Bytes("05 00")},
        {Ev::kUp, kSocks5Ok}},
       RelayPhase::kPiping,
       0,
       kEstablished,
       kSocks5Connect + kSocks5Greeting + kSocks5Connect,
       {},
       "",
       1},
      {"dropped while the client was still asking: connects afresh",
       {{Ev::kClient, "CONNECT exa"},
        {Ev::kUpClosed},
        {Ev::kClient, "mple.com:443 HTTP/1.1\r\n\r\n"},
        {Ev::kConnected}},
       RelayPhase::kHandshaking,
       0,
       "",
       kSocks5Greeting,
       {},
       "",
       1},
      {"a refusal is the proxy's answer: the next proxy is tried",
       {{Ev::kClient, kConnectIn}, {Ev::kUp, refused}, {Ev::kConnected}},
       RelayPhase::kHandshaking,
       1,
       "",
       kSocks5Greeting,
       {ProxyFailure::kProxyInternalError},
       "",
       1},
  };
  for (const Scenario& s : socks5) RunScenario(s, Socks5Farm(), greeted);

  const Scenario http[] = {
      {"CONNECT to an HTTP proxy goes out at once",
       {{Ev::kClient, kConnectIn}, {Ev::kUp, kEstablished}},
       RelayPhase::kPiping,
       0,
       kEstablished,
       kConnectOut,
       {},
       "",
       0},
      {"a plain request is not sent on it: no answer would tell a drop from a failure",
       {{Ev::kClient, kGetIn}},
       RelayPhase::kConnecting,
       0,
       "",
       kGetOut,
       {},
       "",
       1},
  };
  for (const Scenario& s : http) {
    RunScenario(s, {Candidate(ProxyProtocol::kHttp, "h:1"), Candidate(ProxyProtocol::kHttp, "h:2")},
                [] { return nullptr; });
  }
}

TEST(RelaySessionTest, WithoutCandidatesTheClientHearsWhy) {
  // Given none, or none chosen for the request's target.
  for (bool chooser : {false, true}) {
    RelaySession session({7000, 64}, {});
    std::string asked;
    if (chooser) {
      session.ChooseAtRequest([&](const NetTarget& t) {
        asked = t.host;
        return std::vector<RelayCandidate>{};
      });
    }
    session.OnClientData(kSocks5Greeting);
    EXPECT_EQ(Shown(session.TakeClientOutput()), Shown(Bytes("05 00")));
    session.OnClientData(kSocks5Connect);
    EXPECT_EQ(session.phase(), RelayPhase::kClosing);
    EXPECT_EQ(Shown(session.TakeClientOutput()), Shown(Bytes("05 01 00 01 00 00 00 00 00 00")));
    EXPECT_EQ(session.end_reason(), "没有正在使用的代理");
    EXPECT_EQ(asked, chooser ? "example.com" : "");
  }
}

TEST(RelaySessionTest, CandidatesChosenAtTheRequestAreTried) {
  RelaySession session({7000, 64}, {});
  session.ChooseAtRequest([](const NetTarget&) { return Socks5Farm(); });
  session.OnClientData(kConnectIn);
  ASSERT_EQ(session.phase(), RelayPhase::kConnecting);
  EXPECT_EQ(session.candidate().row, 101u);
  session.OnUpstreamConnectFailed();
  EXPECT_EQ(session.candidate().row, 102u);
}

}  // namespace
}  // namespace core
