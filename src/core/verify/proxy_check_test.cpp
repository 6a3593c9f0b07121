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

TEST(ProxyCheckTest, DetectionMovesOnUntilTheProxyAnswers) {
  CheckPlan plan = Plan(1);
  // An HTTP proxy: SOCKS5 and SOCKS4 greetings get an HTTP error, then the page.
  ProxyCheck http(plan, Proxy(ProxyProtocol::kSocks5), true, 0);
  std::vector<std::string> first_bytes;
  for (const char* reply :
       {"HTTP/1.1 400 Bad Request\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n\r\n"}) {
    PageFetch* f = http.fetch();
    ASSERT_NE(f, nullptr);
    f->OnConnected(1);
    first_bytes.push_back(Shown(f->TakeOutput().substr(0, 1)));
    f->OnReceived(reply, 2);
    http.Advance(2);
  }
  EXPECT_EQ(first_bytes, (std::vector<std::string>{Shown(Bytes("05")), Shown(Bytes("04"))}));
  ASSERT_FALSE(http.done());
  Answer(http, kOk);
  ASSERT_TRUE(http.done());
  EXPECT_TRUE(http.report().protocol_known);
  EXPECT_EQ(http.report().protocol, ProxyProtocol::kHttp);
  EXPECT_EQ(http.report().outcomes[0].status, kSiteUsable);

  // A SOCKS5 server that wants a log-in answers in SOCKS5: detected, and failed.
  ProxyCheck locked(plan, Proxy(ProxyProtocol::kHttp), true, 0);
  Answer(locked, Bytes("05 ff"));
  ASSERT_TRUE(locked.done());
  EXPECT_EQ(locked.report().protocol, ProxyProtocol::kSocks5);
  EXPECT_EQ(locked.report().reasons[0], "proxy wants a user name and password");

  // A dead port is not tried three times.
  ProxyCheck dead(plan, Proxy(ProxyProtocol::kHttp), true, 0);
  dead.fetch()->OnConnectFailed("connection refused", 1);
  dead.Advance(1);
  EXPECT_TRUE(dead.done());
  EXPECT_FALSE(dead.report().protocol_known);
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
