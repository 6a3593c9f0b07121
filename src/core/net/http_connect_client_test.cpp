#include "core/net/http_connect_client.h"

#include <gtest/gtest.h>

namespace core {
namespace {

TEST(WriteProxiedRequestHeadTest, Table) {
  const ProxyCredentials creds{"user", "pass"};
  struct Case {
    const char* method;
    NetTarget target;
    const char* path;
    const char* extra;
    const ProxyCredentials* credentials;
    const char* head;
  } cases[] = {
      {"GET",
       {"example.com", 80},
       "/ip",
       "",
       nullptr,
       "GET http://example.com:80/ip HTTP/1.1\r\nHost: example.com\r\n\r\n"},
      {"HEAD",
       {"example.com", 8080},
       "",
       "Accept: */*\r\n",
       &creds,
       "HEAD http://example.com:8080/ HTTP/1.1\r\nHost: example.com:8080\r\n"
       "Proxy-Authorization: Basic dXNlcjpwYXNz\r\nAccept: */*\r\n\r\n"},
      {"GET",
       {"::1", 80},
       "/?a=b",
       "",
       nullptr,
       "GET http://[::1]:80/?a=b HTTP/1.1\r\nHost: [::1]\r\n\r\n"},
      {"G T", {"h", 80}, "/", "", nullptr, ""},
      {"", {"h", 80}, "/", "", nullptr, ""},
      {"GET", {"h", 0}, "/", "", nullptr, ""},
      {"GET", {"h h", 80}, "/", "", nullptr, ""},
      {"GET", {"h", 80}, "/a b", "", nullptr, ""},
      {"GET", {"h", 80}, "/a\r\nX: y", "", nullptr, ""},
      {"GET", {"h", 80}, "relative", "", nullptr, ""},
      {"GET", {"h", 80}, "/", "Accept: */*", nullptr, ""},     // no CRLF
      {"GET", {"h", 80}, "/", "\r\n", nullptr, ""},            // an early blank line
      {"GET", {"h", 80}, "/", "A: b\nC: d\r\n", nullptr, ""},  // a bare LF
      {"GET", {"h", 80}, "/", "no colon\r\n", nullptr, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WriteProxiedRequestHead(c.method, c.target, c.path, c.extra, c.credentials), c.head)
        << c.method << " " << c.path << " " << c.extra;
  }
}

}  // namespace
}  // namespace core
