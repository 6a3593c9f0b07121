// The serve command's decisions without sockets: its options, the pool's
// rotation and eviction on a fake clock, and what the status page says.
#include <gtest/gtest.h>

#include "cli/serve/serve_options.h"
#include "cli/serve/serve_pool.h"
#include "cli/serve/status_page.h"

namespace cli {
namespace {

TEST(ServeOptionsTest, ParsesAndRefuses) {
  struct Case {
    std::vector<std::string> args;
    const char* error;  // a part of the error; "" when the line is good
    const char* listen;
    uint16_t status_port;  // 0: off
    RotateMode rotate;
    uint32_t rotate_value;  // seconds or minutes
    uint64_t verify_every_ms;
  } cases[] = {
      {{"l.txt"}, "", "127.0.0.1:8899", 8900, RotateMode::kConnection, 0, 1800000},
      {{"--listen", "9000", "--rotate", "30-seconds", "--verify-every", "0.5", "l.txt"},
       "",
       "127.0.0.1:9000",
       9001,
       RotateMode::kInterval,
       30,
       30000},
      {{"--listen", "[::1]:7000", "--rotate", "host-sticky:10", "--status", "off", "l.txt"},
       "",
       "::1:7000",
       0,
       RotateMode::kHostSticky,
       10,
       1800000},
      {{"--listen", "0.0.0.0:80", "--auth", "u:p:q", "--status", "127.0.0.1:81", "--verify-every",
        "0", "http://h/l"},
       "",
       "0.0.0.0:80",
       81,
       RotateMode::kConnection,
       0,
       0},
      {{"--listen", "localhost:65535", "l.txt"},
       "",
       "127.0.0.1:65535",
       0,
       RotateMode::kConnection,
       0,
       1800000},
      {{"--listen", "0.0.0.0:80", "l.txt"}, "give --auth", "", 0, {}, 0, 0},
      {{"--listen", "[::]:80", "l.txt"}, "give --auth", "", 0, {}, 0, 0},
      {{"--listen", "[::ffff:127.0.0.2]:80", "l.txt"},
       "",
       "::ffff:127.0.0.2:80",
       81,
       RotateMode::kConnection,
       0,
       1800000},
      {{"--status", "0.0.0.0:81", "l.txt"}, "loopback", "", 0, {}, 0, 0},
      {{"--listen", "example.com:80", "l.txt"}, "--listen takes", "", 0, {}, 0, 0},
      {{"--auth", ":p", "l.txt"}, "--auth takes", "", 0, {}, 0, 0},
      {{"--auth", "nocolon", "l.txt"}, "--auth takes", "", 0, {}, 0, 0},
      {{"--rotate", "0-seconds", "l.txt"}, "--rotate takes", "", 0, {}, 0, 0},
      {{"--rotate", "host-sticky:1.5", "l.txt"}, "--rotate takes", "", 0, {}, 0, 0},
      {{"--rotate", "sometimes", "l.txt"}, "--rotate takes", "", 0, {}, 0, 0},
      {{"--verify-every", "-1", "l.txt"}, "--verify-every takes", "", 0, {}, 0, 0},
      {{"--status", "10.0.0.1:80", "l.txt"}, "loopback", "", 0, {}, 0, 0},
      {{"--status", "8899", "l.txt"}, "port of its own", "", 0, {}, 0, 0},
      {{"--json", "l.txt"}, "option of verify", "", 0, {}, 0, 0},
      {{"--shard", "3/2", "l.txt"}, "--shard takes", "", 0, {}, 0, 0},
      {{"--area", "广东", "--not-area", "电信", "l.txt"},
       "cannot be given together",
       "",
       0,
       {},
       0,
       0},
      {{}, "needs a list", "", 0, {}, 0, 0},
      {{"-"}, "not -", "", 0, {}, 0, 0},
      {{"l.txt", "--listen"}, "needs a value", "", 0, {}, 0, 0},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    SCOPED_TRACE(line);
    ServeOptions o;
    std::string error;
    bool ok = ParseServeArgs(c.args, &o, &error);
    ASSERT_EQ(ok, !*c.error) << error;
    if (!ok) {
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
      continue;
    }
    EXPECT_EQ(o.listen.host + ":" + std::to_string(o.listen.port), c.listen);
    EXPECT_EQ(o.status_off ? 0 : o.status.port, c.status_port);
    EXPECT_EQ(o.rotate, c.rotate);
    EXPECT_EQ(c.rotate == RotateMode::kInterval ? o.rotate_seconds : o.sticky_minutes,
              c.rotate_value);
    EXPECT_EQ(o.verify_every_ms, c.verify_every_ms);
  }
  // The log-in keeps a colon in its password; the list options are verify's.
  ServeOptions o;
  std::string error;
  ASSERT_TRUE(ParseServeArgs({"--auth", "u:p:q", "--shard", "2/3", "--site", "http://h/=x", "l"},
                             &o, &error));
  EXPECT_EQ(o.auth->user, "u");
  EXPECT_EQ(o.auth->password, "p:q");
  EXPECT_EQ(o.verify.shard_index * 10 + o.verify.shard_count, 23);
  EXPECT_EQ(o.verify.inputs, std::vector<std::string>{"l"});
}

// Rows "r0".."r3" scoring 10, 40, 30, 20 (r3 failed its check): the rotation
// goes r1, r2, r0.
std::vector<PoolRow> Rows() {
  std::vector<PoolRow> rows;
  for (int32_t score : {10, 40, 30, 0}) {
    PoolRow r;
    r.candidate.label = "r" + std::to_string(rows.size());
    r.score = score;
    r.state = score > 0 ? RowState::kUsable : RowState::kFailed;
    rows.push_back(r);
  }
  return rows;
}

TEST(ServePoolTest, RotationModesAndEviction) {
  struct Step {
    uint64_t at_ms;
    const char* host;
    const char* fail;    // a row that fails before this connection, or ""
    const char* chosen;  // the candidates, first to last
  };
  struct Case {
    const char* name;
    RotateMode mode;
    uint32_t value;
    std::vector<Step> steps;
  } cases[] = {
      {"each connection the next, best first",
       RotateMode::kConnection,
       0,
       {{0, "a", "", "r1 r2 r0"},
        {0, "a", "", "r2 r0 r1"},
        {0, "b", "", "r0 r1 r2"},
        {0, "b", "", "r1 r2 r0"}}},
      {"an evicted row is passed over",
       RotateMode::kConnection,
       0,
       {{0, "a", "r2", "r1 r0"}, {0, "a", "", "r0 r1"}, {0, "a", "r0", "r1"}, {0, "a", "r1", ""}}},
      {"one row for all connections, moving on each 30 s",
       RotateMode::kInterval,
       30,
       {{1000, "a", "", "r1 r2 r0"},
        {30999, "b", "", "r1 r2 r0"},
        {31000, "a", "", "r2 r0 r1"},
        {31000, "a", "r2", "r0 r1"},
        {32000, "a", "", "r0 r1"},
        {60999, "a", "", "r0 r1"},
        {61000, "a", "", "r1 r0"}}},
      {"the row in use fails: failover rows stay in order",
       RotateMode::kInterval,
       30,
       {{0, "a", "", "r1 r2 r0"}, {1, "a", "r0", "r1 r2"}}},
      {"a site keeps its row for its minutes",
       RotateMode::kHostSticky,
       1,
       {{0, "a.example", "", "r1 r2 r0"},
        {0, "b.example", "", "r2 r0 r1"},
        {59999, "A.EXAMPLE", "", "r1 r2 r0"},
        {60000, "a.example", "", "r0 r1 r2"},
        {60000, "b.example", "r2", "r1 r0"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ServePool pool(c.mode, c.value, c.value);
    pool.Replace(Rows());
    for (const Step& s : c.steps) {
      SCOPED_TRACE(testing::Message() << s.at_ms << " " << s.host);
      for (const PoolRow& r : pool.rows()) {
        if (r.candidate.label == s.fail) {
          EXPECT_TRUE(pool.Failed(r.candidate.row, "refused"));
        }
      }
      std::string chosen;
      for (const core::RelayCandidate& k : pool.Choose(s.host, s.at_ms)) {
        chosen += (chosen.empty() ? "" : " ") + k.label;
      }
      EXPECT_EQ(chosen, s.chosen);
    }
  }
}

TEST(ServePoolTest, ANewVerificationBringsEvictedRowsBackAndIgnoresOldIds) {
  ServePool pool(RotateMode::kConnection, 0, 0);
  pool.Replace(Rows());
  uint64_t old_r1 = pool.rows()[1].candidate.row;
  EXPECT_TRUE(pool.Failed(old_r1, "refused"));
  EXPECT_FALSE(pool.Failed(old_r1, "again"));  // counted, out already
  EXPECT_EQ(pool.rows()[1].failures, 2u);
  EXPECT_EQ(pool.usable(), 2u);
  pool.Replace(Rows());
  EXPECT_EQ(pool.usable(), 3u);
  EXPECT_FALSE(pool.Failed(old_r1, "late report of an earlier pool"));
  EXPECT_EQ(pool.usable(), 3u);
  EXPECT_EQ(pool.evictions(), 1u);
}

TEST(StatusPageTest, Answers) {
  ServePool pool(RotateMode::kConnection, 0, 0);
  std::vector<PoolRow> rows = Rows();
  rows[3].reason = "connection\trefused";
  rows[0].checked_ms = 1000;
  pool.Replace(rows);
  pool.Failed(pool.rows()[2].candidate.row, "proxy closed");
  pool.Carried(pool.rows()[1].candidate.row);
  ServeCounters counters;
  counters.open = 3;
  counters.carried = 7;
  counters.verifying = true;
  struct Case {
    std::string head;
    const char* start;
    std::vector<const char*> has;
  } cases[] = {
      {"GET / HTTP/1.1\r\n\r\n",
       "HTTP/1.1 200 OK",
       {"4 rows, 2 usable, 0 verifications, verifying now\n",
        "\nr0\t-\tusable\t10\t60s ago\t0\t0\t-\n", "\nr1\t-\tusable\t40\t", "\t1\t0\t-\n",
        "\nr2\t-\tevicted\t30\t", "\t0\t1\tproxy closed\n", "\nr3\t-\tfailed\t0\t",
        "connection refused\n"}},
      {"GET /metrics HTTP/1.1\r\n\r\n",
       "HTTP/1.1 200 OK",
       {"\nrelaymoth_pool_rows 4\n", "\nrelaymoth_pool_usable 2\n", "\nrelaymoth_pool_evicted 1\n",
        "\nrelaymoth_connections_open 3\n", "# TYPE relaymoth_connections_total counter\n",
        "\nrelaymoth_connections_total{result=\"carried\"} 7\n", "\nrelaymoth_verifying 1\n"}},
      {"HEAD /metrics?x HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK", {}},
      {"GET /other HTTP/1.1\r\n\r\n", "HTTP/1.1 404 ", {}},
      {"POST / HTTP/1.1\r\n\r\n", "HTTP/1.1 405 ", {}},
      {"garbage", "HTTP/1.1 400 ", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.head);
    std::string answer = StatusAnswer(c.head, counters, pool, 61000);
    EXPECT_EQ(answer.rfind(c.start, 0), 0u) << answer;
    for (const char* part : c.has) EXPECT_NE(answer.find(part), std::string::npos) << answer;
    if (c.head.rfind("HEAD", 0) == 0) {
      EXPECT_EQ(answer.find("\r\n\r\n") + 4, answer.size());
    }
  }
  EXPECT_EQ(StatusLine(counters, pool, 2.5), "pool 4, 2 usable, 3 open, 2.5 conn/s, verifying");
  ServePool empty(RotateMode::kConnection, 0, 0);
  EXPECT_NE(StatusLine(counters, empty, 0).find("no usable row: refusing clients"),
            std::string::npos);
}

}  // namespace
}  // namespace cli
