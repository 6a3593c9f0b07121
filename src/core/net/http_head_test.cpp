#include "core/net/http_head.h"

#include <gtest/gtest.h>

#include <string>

namespace core {
namespace {

TEST(FindHeadEndTest, Table) {
  struct Case {
    std::string bytes;
    size_t end;
  } cases[] = {
      {"", std::string::npos},         {"HTTP/1.1 200 OK\r\n", std::string::npos},
      {"HTTP/1.1 200 OK\r\n\r\n", 19}, {"HTTP/1.1 200 OK\r\n\r\nbody\r\n\r\n", 19},
      {"HTTP/1.1 200 OK\n\nx", 17},    {"A\r\nB: c\n\r\n", 10},
      {"A\r\n\r", std::string::npos},  {"A\r\r\n", std::string::npos},
  };
  for (const Case& c : cases) EXPECT_EQ(FindHeadEnd(c.bytes), c.end) << c.bytes;
}

TEST(FindHeadEndTest, ResumedSearchSeesATerminatorAcrossTheSeam) {
  std::string head = "CONNECT h:1 HTTP/1.1\r\nHost: h:1\r\n\r\n";
  for (size_t seen = 0; seen <= head.size(); ++seen) {
    EXPECT_EQ(FindHeadEnd(head, seen), head.size()) << seen;
  }
}

TEST(ParseHttpHeadTest, Fields) {
  HttpHead head;
  ASSERT_TRUE(ParseHttpHead("GET / HTTP/1.1\r\nHost:  h \r\nX-Empty:\nA: b:c\r\n\r\n", &head));
  EXPECT_EQ(head.start_line, "GET / HTTP/1.1");
  ASSERT_EQ(head.fields.size(), 3u);
  EXPECT_EQ(head.fields[0].name, "Host");
  EXPECT_EQ(head.fields[0].value, "h");
  EXPECT_EQ(head.fields[1].value, "");
  EXPECT_EQ(head.fields[2].value, "b:c");
}

TEST(ParseHttpHeadTest, Refused) {
  const std::string cases[] = {
      "",
      "\r\n\r\n",            // no start line
      "GET / HTTP/1.1\r\n",  // no blank line
      "GET / HTTP/1.1\r\nNo colon\r\n\r\n",
      "GET / HTTP/1.1\r\n: empty name\r\n\r\n",
      "GET / HTTP/1.1\r\nBad name: x\r\n\r\n",
      "GET / HTTP/1.1\r\nA: b\r\n folded\r\n\r\n",
      "GET / HTTP/1.1\r\nA: b\rc\r\n\r\n",  // lone CR
      std::string("GET / HTTP/1.1\r\nA: \0\r\n\r\n", 23),
      "GET / HTTP/1.1\r\n\r\ntrailing",
  };
  for (const std::string& c : cases) {
    HttpHead head;
    EXPECT_FALSE(ParseHttpHead(c, &head)) << c;
  }
}

TEST(ParseStatusLineTest, Table) {
  struct Case {
    const char* line;
    int status;
  } cases[] = {
      {"HTTP/1.1 200 Connection established", 200},
      {"HTTP/1.0 407", 407},
      {"http/1.1 502 Bad Gateway", 502},
      {"HTTP/1.1 200OK", -1},
      {"HTTP/1.1 20 OK", -1},
      {"HTTP/1.1 099 x", -1},
      {"HTTP/2 200 OK", -1},
      {"HTTP/1.x 200 OK", -1},
      {"HTTP/1.1  200 OK", -1},
      {"SSH-2.0-OpenSSH", -1},
      {"", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseStatusLine(c.line), c.status) << c.line;
}

}  // namespace
}  // namespace core
