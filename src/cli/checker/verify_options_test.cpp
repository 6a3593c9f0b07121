// The verify command's pieces that need no network: its options, the shard rule,
// the row conversion, the filters, the order and the output forms read back.
#include "cli/checker/verify_options.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <sstream>
#include <thread>

#include "cli/cli.h"
#include "core/base/json_reader.h"
#include "core/proxylist/proxy_line.h"

namespace cli {
namespace {

TEST(VerifyOptionsTest, ReadsTheCommandLine) {
  VerifyOptions o;
  std::string error;
  ASSERT_TRUE(ParseVerifyArgs(
      {"--site", "http://a.example/x?q=1=Needle=", "--site", "https://b.example/=Example Domain",
       "--type", "socks5", "--timeout", "2.5", "--in-flight", "5000", "--grade", "elite, anonymous",
       "--exit", "--shard", "2/3", "list.txt"},
      &o, &error))
      << error;
  ASSERT_EQ(o.sites.size(), 2u);
  // The verify string follows the last "=".
  EXPECT_EQ(o.sites[0].url, "http://a.example/x?q=1=Needle");
  EXPECT_EQ(o.sites[0].verify_string, "");
  EXPECT_EQ(o.sites[1].verify_string, "Example Domain");
  EXPECT_EQ(o.untyped_as, "SOCKS5");
  EXPECT_EQ(o.timeout_ms, 2500u);
  EXPECT_EQ(o.in_flight, 5000);
  EXPECT_EQ(o.grades, (std::vector<core::AnonymityGrade>{core::AnonymityGrade::kElite,
                                                         core::AnonymityGrade::kAnonymous}));
  EXPECT_EQ(o.exit_url, "https://ifconfig.me/ip");
  EXPECT_EQ(o.shard_index, 2);
  EXPECT_EQ(o.shard_count, 3);
  EXPECT_EQ(o.inputs, std::vector<std::string>{"list.txt"});

  ASSERT_TRUE(ParseVerifyArgs({}, &o, &error));
  EXPECT_EQ(o.inputs, std::vector<std::string>{"-"});  // standard input
}

TEST(VerifyOptionsTest, RefusesBadUsage) {
  const std::vector<std::vector<std::string>> bad = {
      {"--site", "ftp://a.example/"},
      {"--site"},
      {"--type", "FTP"},
      {"--timeout", "0"},
      {"--timeout", "x"},
      {"--in-flight", "0"},
      {"--in-flight", "10001"},
      {"--grade", "nice"},
      {"--shard", "0/3"},
      {"--shard", "4/3"},
      {"--shard", "1"},
      {"--judge", "judge.example"},
      {"--area", "广东", "--not-area", "电信"},
      {"--colour"},
      {"--site", "http://a/", "--site", "http://a/", "--site", "http://a/", "--site", "http://a/",
       "--site", "http://a/", "--site", "http://a/"},
  };
  for (const auto& args : bad) {
    VerifyOptions o;
    std::string error;
    EXPECT_FALSE(ParseVerifyArgs(args, &o, &error)) << args[0];
    EXPECT_FALSE(error.empty()) << args[0];
  }
}

TEST(VerifyOptionsTest, ShardsDealEveryRowToExactlyOneSlice) {
  for (int count : {1, 2, 3, 7}) {
    std::vector<int> sizes(size_t(count) + 1, 0);
    for (size_t row = 0; row < 100; ++row) {
      int owners = 0;
      for (int shard = 1; shard <= count; ++shard) {
        if (InShard(row, shard, count)) {
          ++owners;
          ++sizes[size_t(shard)];
        }
      }
      EXPECT_EQ(owners, 1) << row << " of " << count;
    }
    for (int shard = 1; shard <= count; ++shard) {
      EXPECT_LE(std::abs(sizes[size_t(shard)] - 100 / count), 1) << shard << "/" << count;
    }
  }
}

TEST(VerifyOptionsTest, RowsBecomeUpstreamProxies) {
  struct Case {
    const char* address;
    const char* port;
    const char* type;
    bool ok;
    core::ProxyProtocol protocol;
    const char* host;
  } cases[] = {
      {"1.2.3.4", "8080", "", true, core::ProxyProtocol::kHttp, "1.2.3.4"},
      {"1.2.3.4", "1080", "socks5", true, core::ProxyProtocol::kSocks5, "1.2.3.4"},
      {"1.2.3.4", "1080", "SOCKS", true, core::ProxyProtocol::kSocks4, "1.2.3.4"},
      {"[::1]", "3128", "HTTPS", true, core::ProxyProtocol::kHttp, "::1"},
      {"proxy.example", "3128", "HTTP", true, core::ProxyProtocol::kHttp, "proxy.example"},
      {"1.2.3.4", "21", "FTP", false, core::ProxyProtocol::kHttp, ""},
      {"1.2.3.4", "0", "HTTP", false, core::ProxyProtocol::kHttp, ""},
      {"1.2.3.4", "", "HTTP", false, core::ProxyProtocol::kHttp, ""},
      {"bad host!", "80", "HTTP", false, core::ProxyProtocol::kHttp, ""},
  };
  for (const Case& c : cases) {
    std::optional<core::UpstreamProxy> up = UpstreamOfRow(c.address, c.port, c.type);
    ASSERT_EQ(up.has_value(), c.ok) << c.address << " " << c.type;
    if (!up) continue;
    EXPECT_EQ(up->protocol, c.protocol) << c.type;
    EXPECT_EQ(up->proxy.host, c.host);
  }
}

CheckedRow Row(size_t order, const char* address, int site_status, double seconds,
               const char* location = "", core::AnonymityGrade grade = {}) {
  CheckedRow r;
  r.order = order;
  r.address = address;
  r.port = "8080";
  r.type = "HTTP";
  r.report.outcomes = {core::SiteOutcome{site_status, seconds}};
  r.report.reasons = {site_status == core::kSiteUsable ? "" : "connection refused"};
  r.report.grade = grade;
  r.result = core::ComputeRowResult(r.report.outcomes, false);
  r.location = location;
  return r;
}

TEST(VerifyOptionsTest, ACountryCodeStandsForTheNamesTheDatabaseWrites) {
  struct Case {
    const char* country;
    bool resolves;
    std::vector<bool> pass;  // 中国 北京, 美国, 日本
  } cases[] = {
      {"CN", true, {true, false, false}},
      {"us", true, {false, true, false}},
      {"中国", true, {true, false, false}},  // a name is matched as it is
      {"ZZ", false, {}},
      {"C1", true, {false, false, false}},  // not two letters: a name no row has
  };
  std::vector<CheckedRow> rows = {Row(0, "1.1.1.1", core::kSiteUsable, 1.0, "中国 北京"),
                                  Row(1, "2.2.2.2", core::kSiteUsable, 1.0, "美国"),
                                  Row(2, "3.3.3.3", core::kSiteUsable, 1.0, "日本")};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.country);
    VerifyOptions o;
    o.country = c.country;
    std::string error;
    ASSERT_EQ(ResolveCountryCode(&o, kIsoCountriesJson, kIsoCountriesZhMo, &error), c.resolves)
        << error;
    if (!c.resolves) {
      EXPECT_NE(error.find(c.country), std::string::npos) << error;
      continue;
    }
    std::vector<bool> pass;
    for (const CheckedRow& r : rows) pass.push_back(PassesFilters(r, o));
    EXPECT_EQ(pass, c.pass);
  }
  VerifyOptions o;
  o.country = "CN";
  std::string error;
  EXPECT_FALSE(ResolveCountryCode(&o, "/nonexistent/iso.json", kIsoCountriesZhMo, &error));
  EXPECT_NE(error.find("/nonexistent/iso.json"), std::string::npos) << error;
}

TEST(VerifyOptionsTest, FiltersAndOrder) {
  std::vector<CheckedRow> rows = {
      Row(0, "1.1.1.1", core::kSiteUnreachable, 50, "美国"),
      Row(1, "2.2.2.2", core::kSiteUsable, 2.0, "中国 北京", core::AnonymityGrade::kElite),
      Row(2, "3.3.3.3", core::kSiteUsable, 0.3, "中国 上海", core::AnonymityGrade::kTransparent),
      Row(3, "4.4.4.4", core::kSiteUsable, 2.0, "日本"),
  };
  VerifyOptions o;
  o.only_working = true;
  o.country = "中国";
  o.grades = {core::AnonymityGrade::kElite};
  std::vector<bool> pass;
  for (const CheckedRow& r : rows) pass.push_back(PassesFilters(r, o));
  EXPECT_EQ(pass, (std::vector<bool>{false, true, false, false}));

  SortByScore(rows);
  std::vector<std::string> order;
  for (const CheckedRow& r : rows) order.push_back(r.address);
  // The faster row scores higher; of equal scores the later row comes first, as the
  // program sorts its list at the end of a verification.
  EXPECT_EQ(order, (std::vector<std::string>{"3.3.3.3", "4.4.4.4", "2.2.2.2", "1.1.1.1"}));
}

TEST(VerifyOptionsTest, OutputFormsReadBack) {
  std::vector<CheckedRow> rows = {Row(0, "2.2.2.2", core::kSiteUsable, 0.5, "中国 北京"),
                                  Row(1, "1.1.1.1", core::kSiteUnreachable, 50, "x,\"y\"")};
  rows[0].report.exit_address = "5.6.7.8";

  std::ostringstream list;
  WriteRows(rows, {"http://a.example/"}, OutputForm::kList, list);
  std::istringstream lines(list.str());
  std::string line;
  ASSERT_TRUE(std::getline(lines, line));
  core::ProxyLine parsed;
  ASSERT_TRUE(core::ParseProxyLine(line, &parsed)) << line;
  EXPECT_EQ(parsed.address, "2.2.2.2");
  EXPECT_EQ(parsed.port, "8080");
  EXPECT_EQ(parsed.type, "HTTP");
  EXPECT_EQ(parsed.remark, "[" + std::to_string(rows[0].result.score) + "] 0.5 中国 北京");

  std::ostringstream csv;
  WriteRows(rows, {"http://a.example/"}, OutputForm::kCsv, csv);
  EXPECT_EQ(csv.str(),
            "address,port,type,working,score,reason,site1_seconds,location,exit,grade,user\n"
            "2.2.2.2,8080,HTTP,1," +
                std::to_string(rows[0].result.score) +
                ",,0.500,中国 北京,5.6.7.8,,\n"
                "1.1.1.1,8080,HTTP,0,0,connection refused,,\"x,\"\"y\"\"\",,,\n");

  std::ostringstream json;
  WriteRows(rows, {"http://a.example/"}, OutputForm::kJson, json);
  std::istringstream objects(json.str());
  std::vector<core::JsonValue> read;
  while (std::getline(objects, line)) {
    std::string error;
    std::optional<core::JsonValue> v = core::ParseJson(line, &error);
    ASSERT_TRUE(v) << line << " " << error;
    read.push_back(*v);
  }
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0].StringOr("exit", ""), "5.6.7.8");
  EXPECT_EQ(read[1].StringOr("location", ""), "x,\"y\"");
  EXPECT_EQ(read[1].StringOr("reason", ""), "connection refused");
  const core::JsonValue* sites = read[1].Find("sites");
  ASSERT_TRUE(sites && sites->items.size() == 1);
  EXPECT_EQ(sites->items[0].StringOr("result", ""), "unreachable");
  EXPECT_EQ(sites->items[0].StringOr("url", ""), "http://a.example/");
}

TEST(VerifyCommandTest, BadUsageAndUnreadableInputsExitTwoNamingThem) {
  struct Case {
    std::vector<std::string> args;
    const char* named;
  } cases[] = {
      {{"verify", "--in-flight", "0"}, "--in-flight"},
      {{"verify", "/nonexistent/relaymoth-list.txt"}, "/nonexistent/relaymoth-list.txt"},
      {{"verify", "http://127.0.0.1:1/list.txt"}, "http://127.0.0.1:1/list.txt"},
  };
  for (const Case& c : cases) {
    std::istringstream in;
    std::ostringstream out, err;
    EXPECT_EQ(RunCli(c.args, in, out, err, CliEnv{}), 2) << c.named;
    EXPECT_NE(err.str().find(c.named), std::string::npos) << err.str();
    EXPECT_EQ(out.str(), "");
  }
}

TEST(VerifyCommandTest, NothingToCheckExitsOne) {
  std::istringstream in("no proxy here\n");
  std::ostringstream out, err;
  EXPECT_EQ(RunCli({"verify"}, in, out, err, CliEnv{}), 1);
  EXPECT_NE(err.str().find("no proxies found in standard input"), std::string::npos) << err.str();
  // Rows outside --country are dropped before any connect (nothing listens on port 1).
  std::istringstream rows("127.0.0.1:1\n127.0.0.1:2\n");
  std::ostringstream out2, err2;
  EXPECT_EQ(
      RunCli({"verify", "--country", "US", "--connect-timeout", "30"}, rows, out2, err2, CliEnv{}),
      1);
  EXPECT_NE(err2.str().find("2 rows outside --country US were not checked"), std::string::npos)
      << err2.str();
  // --area is matched against the rows' places before any connect too.
  std::istringstream rows3("127.0.0.1:1\n127.0.0.1:2\n");
  std::ostringstream out3, err3;
  EXPECT_EQ(
      RunCli({"verify", "--area", "广东", "--connect-timeout", "30"}, rows3, out3, err3, CliEnv{}),
      1);
  EXPECT_NE(err3.str().find("no row is located at 广东"), std::string::npos) << err3.str();
  EXPECT_NE(err3.str().find("2 rows outside --area were not checked"), std::string::npos);
}

// "verify --help" describes every option the usage line names, and exits 0.
TEST(VerifyCommandTest, HelpDescribesEveryOption) {
  std::istringstream in;
  std::ostringstream usage, help, err;
  ASSERT_EQ(RunCli({"--help"}, in, usage, err, CliEnv{}), 0);
  ASSERT_EQ(RunCli({"verify", "--json", "--help"}, in, help, err, CliEnv{}), 0);
  std::string text = usage.str();
  size_t from = text.find("relaymoth-cli verify");
  ASSERT_NE(from, std::string::npos);
  for (size_t at = text.find("--", from); at != std::string::npos; at = text.find("--", at + 2)) {
    size_t end = text.find_first_of(" ]|=\n", at);
    std::string option = text.substr(at, end - at);
    EXPECT_NE(help.str().find(option), std::string::npos) << option;
  }
  EXPECT_EQ(err.str(), "");
}

// The time left never reads 0 s while rows in flight may still wait for their
// time-outs.
TEST(VerifyOptionsTest, TimeLeftCountsRowsWaitingOnTimeOuts) {
  const struct {
    size_t total, begun, done;
    double rate;
    uint32_t since_last_ms, budget_ms;
    double left;
  } cases[] = {
      {100, 60, 50, 10, 0, 12000, 12},     // the last row begun may take 12 s
      {100, 100, 90, 10, 8000, 12000, 4},  // all begun: what the last one may still take
      {100, 100, 90, 10, 20000, 12000, 0},
      {1000, 100, 50, 10, 0, 12000, 90},  // rows waiting dominate
      {100, 10, 0, 0, 0, 12000, -1},
      {100, 100, 100, 10, 0, 12000, 0},
  };
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(SecondsLeft(c.total, c.begun, c.done, c.rate, c.since_last_ms, c.budget_ms),
                     c.left)
        << c.total << " " << c.begun << " " << c.done;
  }
}

// Ctrl-C stops the run, writes what was checked and exits 130. The proxy is a
// port that accepts and never answers, so the check would wait for its time-out.
TEST(VerifyCommandTest, CtrlCWritesWhatWasCheckedAndExits130) {
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(a);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
  ASSERT_EQ(listen(listener, 8), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length), 0);
  // Until the command takes Ctrl-C itself, the signal does nothing here.
  struct sigaction quiet {
  }, old{};
  quiet.sa_handler = [](int) {};
  sigaction(SIGINT, &quiet, &old);
  std::atomic<bool> running{true};
  std::thread ctrl_c([&] {
    while (running) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (running) kill(getpid(), SIGINT);
    }
  });
  std::istringstream rows("127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "\n");
  std::ostringstream out, err;
  int status = RunCli({"verify", "--timeout", "60"}, rows, out, err, CliEnv{});
  running = false;
  ctrl_c.join();
  sigaction(SIGINT, &old, nullptr);
  close(listener);
  EXPECT_EQ(status, 130);
  EXPECT_NE(err.str().find("stopped; 0 of 1 proxies checked"), std::string::npos) << err.str();
}

}  // namespace
}  // namespace cli
