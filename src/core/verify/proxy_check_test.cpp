// One proxy's check driven by hand: which fetches it makes, in which order, with
// which protocol, and the report it comes to.
#include "core/verify/proxy_check.h"

#include <gtest/gtest.h>

#include "core/net/net_testing.h"

namespace core {
namespace {

constexpr char kOk[] = "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nNEEDLE";

CheckPlan Plan(int sites) {
  CheckPlan plan;
  for (int i = 0; i < sites; ++i) {
    CheckSite s;
    s.url = "http://127.0.0.1/" + std::to_string(i);
    s.target.site = {"127.0.0.1", 80};
    s.target.ipv4 = "127.0.0.1";
    s.target.path = "/" + std::to_string(i);
    s.verify_string = "NEEDLE";
    plan.sites.push_back(s);
  }
  return plan;
}

UpstreamProxy Proxy(ProxyProtocol protocol) {
  UpstreamProxy p;
  p.proxy = {"10.0.0.1", 8080};
  p.protocol = protocol;
  return p;
}

// Connects the current fetch and answers it with `reply` (closing after it).
void Answer(ProxyCheck& check, const std::string& reply, uint32_t now = 10) {
  PageFetch* f = check.fetch();
  ASSERT_NE(f, nullptr);
  f->OnConnected(now);
  f->TakeOutput();
  if (!reply.empty()) f->OnReceived(reply, now);
  f->OnEnd(now);
  check.Advance(now);
}

TEST(ProxyCheckTest, SitesInTurnAndAnUnreachableProxyEndsTheRun) {
  CheckPlan plan = Plan(3);
  ProxyCheck check(plan, Proxy(ProxyProtocol::kHttp), false, 0);
  Answer(check, kOk, 500);
  Answer(check, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nno");
  Answer(check, "");  // closed without a reply
  ASSERT_TRUE(check.done());
  const CheckReport& r = check.report();
  EXPECT_EQ(r.outcomes[0].status, kSiteUsable);
  EXPECT_DOUBLE_EQ(r.outcomes[0].seconds, 0.5);
  EXPECT_EQ(r.outcomes[1].status, kSiteNoMatch);
  EXPECT_EQ(r.reasons[1], "verify string not found");
  EXPECT_EQ(r.outcomes[2].status, kSiteUnreachable);
  EXPECT_EQ(r.reasons[2], "reply cut short");

  ProxyCheck dead(plan, Proxy(ProxyProtocol::kHttp), false, 0);
  dead.fetch()->OnConnectFailed("connection refused", 5000);
  dead.Advance(5000);
  ASSERT_TRUE(dead.done());
  EXPECT_EQ(dead.report().outcomes[0].status, kSiteUnreachable);
  EXPECT_EQ(dead.report().outcomes[1].status, kSiteNotTested);
}

// Detection asks HTTP, SOCKS5 and SOCKS4 at once, one lane each. Each row says
// what the proxy does to each lane's first message, in the order the events come;
// the winner's page goes on over the connection that answered.
TEST(ProxyCheckTest, DetectionRacesTheProtocolsAndKeepsTheAnsweringConnection) {
  const std::string kSocks5Up = Bytes("05 00") + Bytes("05 00 00 01 00 00 00 00 00 00");
  const std::string kHead = "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\n";
  struct Event {
    size_t lane;        // 0 HTTP, 1 SOCKS5, 2 SOCKS4
    std::string reply;  // bytes the proxy sends; empty: it closes
  };
  struct Case {
    const char* name;
    std::vector<Event> events;
    std::vector<bool> open_after;  // lanes still in use after the events
    std::optional<ProxyProtocol> protocol;
    int status;  // the first site's outcome once the winner's page is read
  } cases[] = {
      {"http proxy: the silent SOCKS lanes are not waited for",
       {{0, kHead}},
       {true, false, false},
       ProxyProtocol::kHttp,
       kSiteUsable},
      {"socks5 server: closes on the HTTP request",
       {{1, kSocks5Up}, {0, ""}},
       {false, true, false},
       ProxyProtocol::kSocks5,
       kSiteUsable},
      {"mixed port: HTTP wins though SOCKS5 answered first",
       {{1, kSocks5Up}, {0, kHead}},
       {true, false, false},
       ProxyProtocol::kHttp,
       kSiteUsable},
      {"a SOCKS greeting answered with an HTTP error page",
       {{1, "HTTP/1.1 400 Bad Request\r\n\r\n"}, {0, kHead}},
       {true, false, false},
       ProxyProtocol::kHttp,
       kSiteUsable},
      {"socks5 wanting a log-in",
       {{0, ""}, {1, Bytes("05 ff")}},
       {false, false, false},
       ProxyProtocol::kSocks5,
       kSiteUnreachable},
      {"garbage everywhere",
       {{2, "xx"}, {1, "xx"}, {0, "xx"}},
       {false, false, false},
       std::nullopt,
       kSiteUnreachable},
  };
  for (const Case& c : cases) {
    CheckPlan plan = Plan(1);
    ProxyCheck check(plan, Proxy(ProxyProtocol::kHttp), true, 0);
    std::vector<std::string> first_bytes;
    for (size_t lane = 0; lane < kDetectionLanes; ++lane) {
      PageFetch* f = check.fetch(lane);
      ASSERT_NE(f, nullptr) << c.name;
      f->OnConnected(1);
      first_bytes.push_back(Shown(f->TakeOutput().substr(0, 1)));
    }
    EXPECT_EQ(first_bytes, (std::vector<std::string>{"G", Shown(Bytes("05")), Shown(Bytes("04"))}));
    for (const Event& e : c.events) {
      PageFetch* f = check.fetch(e.lane);
      if (!f) continue;
      if (e.reply.empty()) {
        f->OnEnd(2);
      } else {
        f->OnReceived(e.reply, 2);
        f->TakeOutput();
      }
      check.Advance(2);
    }
    for (size_t lane = 0; lane < kDetectionLanes; ++lane) {
      EXPECT_EQ(check.fetch(lane) != nullptr, c.open_after[lane]) << c.name << " lane " << lane;
    }
    // The rest of the page, on the connection that answered.
    for (size_t lane = 0; lane < kDetectionLanes; ++lane) {
      if (PageFetch* f = check.fetch(lane)) f->OnReceived(lane == 0 ? "NEEDLE" : kOk, 3);
    }
    check.Advance(3);
    EXPECT_TRUE(check.done()) << c.name;
    EXPECT_EQ(check.report().protocol_known, c.protocol.has_value()) << c.name;
    if (c.protocol) EXPECT_EQ(check.report().protocol, *c.protocol) << c.name;
    EXPECT_EQ(check.report().outcomes[0].status, c.status) << c.name;
  }

  // A dead port: every lane's connect fails, and the row is unreachable.
  CheckPlan plan = Plan(1);
  ProxyCheck dead(plan, Proxy(ProxyProtocol::kHttp), true, 0);
  for (size_t lane = 0; lane < kDetectionLanes; ++lane) {
    dead.fetch(lane)->OnConnectFailed("connection refused", 1);
    dead.Advance(1);
  }
  EXPECT_TRUE(dead.done());
  EXPECT_FALSE(dead.report().protocol_known);
  EXPECT_EQ(dead.report().reasons[0], "connection refused");
}

TEST(ProxyCheckTest, JudgeAndEchoPagesFollowAWorkingSite) {
  CheckPlan plan = Plan(1);
  FetchTarget page;
  page.site = {"127.0.0.1", 81};
  plan.judge = page;
  plan.echo = page;
  plan.own_addresses = {"198.51.100.9"};

  ProxyCheck http(plan, Proxy(ProxyProtocol::kHttp), false, 0);
  Answer(http, kOk);
  Answer(http, "HTTP/1.1 200 OK\r\n\r\nVia: 1.1 proxy\r\n");
  Answer(http, "HTTP/1.1 200 OK\r\n\r\n203.0.113.5\n");
  ASSERT_TRUE(http.done());
  EXPECT_EQ(http.report().grade, AnonymityGrade::kAnonymous);
  EXPECT_EQ(http.report().exit_address, "203.0.113.5");

  // Through a tunnel the judge is not asked: its page could say nothing.
  ProxyCheck socks(plan, Proxy(ProxyProtocol::kSocks5), false, 0);
  PageFetch* f = socks.fetch();
  f->OnConnected(1);
  f->OnReceived(Bytes("05 00"), 1);
  f->OnReceived(Bytes("05 00 00 01 00 00 00 00 00 00") + kOk, 1);
  socks.Advance(1);
  EXPECT_EQ(socks.report().grade, AnonymityGrade::kTunnelled);
  ASSERT_FALSE(socks.done());  // the echo page is next

  // A proxy that served no site gets neither.
  ProxyCheck failing(plan, Proxy(ProxyProtocol::kHttp), false, 0);
  Answer(failing, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nno");
  EXPECT_TRUE(failing.done());
  EXPECT_EQ(failing.report().grade, AnonymityGrade::kUnknown);
}

}  // namespace
}  // namespace core
