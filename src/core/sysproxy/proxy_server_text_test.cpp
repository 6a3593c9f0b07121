#include "core/sysproxy/proxy_server_text.h"

#include <gtest/gtest.h>

#include <string>

namespace core {
namespace {

TEST(PlanSystemProxyTest, ProxyServerByKind) {
  struct {
    const char *text, *server, *current, *host;
  } cases[] = {
      {"10.1.2.3:8080", "10.1.2.3:8080", "10.1.2.3:8080", "10.1.2.3"},
      {"  10.1.2.3:8080 \t", "10.1.2.3:8080", "10.1.2.3:8080", "10.1.2.3"},
      {"10.1.2.3:8080@HTTP", "10.1.2.3:8080", "10.1.2.3:8080@HTTP", "10.1.2.3"},
      {"10.1.2.3:1080@SOCKS5", "socks=10.1.2.3:1080", "10.1.2.3:1080@SOCKS5", "10.1.2.3"},
      {"10.1.2.3:1080@socks4", "socks=10.1.2.3:1080", "10.1.2.3:1080@socks4", "10.1.2.3"},
      {"10.1.2.3:1080@SOCKS", "socks=10.1.2.3:1080", "10.1.2.3:1080@SOCKS", "10.1.2.3"},
      {"10.1.2.3:1080@SOCKS4A", "socks=10.1.2.3:1080", "10.1.2.3:1080@SOCKS4A", "10.1.2.3"},
      {"10.1.2.3:21@FTP", "ftp=10.1.2.3:21", "10.1.2.3:21@FTP", "10.1.2.3"},
      {"10.1.2.3:443@HTTPS", "https=10.1.2.3:443", "10.1.2.3:443@HTTPS", "10.1.2.3"},
      {"10.1.2.3:70@gopher", "gopher=10.1.2.3:70", "10.1.2.3:70@gopher", "10.1.2.3"},
      {"127.0.0.1:8080", "127.0.0.1:8080", "127.0.0.1:8080", "127.0.0.1"},
  };
  for (const auto& c : cases) {
    // Another port of this machine is a proxy like any other.
    SystemProxyChange ch = PlanSystemProxy(c.text, {8081});
    ASSERT_TRUE(ch.accepted) << c.text;
    EXPECT_TRUE(ch.enable) << c.text;
    EXPECT_EQ(ch.proxy_server, c.server) << c.text;
    EXPECT_EQ(ch.current_proxy, c.current) << c.text;
    EXPECT_EQ(ch.host, c.host) << c.text;
  }
}

TEST(PlanSystemProxyTest, EmptyClearsAndRefusedTextIsAnError) {
  for (const char* blank : {"", "  \t\r\n"}) {
    SystemProxyChange ch = PlanSystemProxy(blank);
    EXPECT_TRUE(ch.accepted);
    EXPECT_FALSE(ch.enable);
    EXPECT_EQ(ch.proxy_server, "");
    EXPECT_EQ(ch.current_proxy, "");
  }
  struct {
    const char *text, *message;
  } bad[] = {
      {"10.1.2.3", "[10.1.2.3:@]是一个无效的代理服务器项目"},
      {"10.1.2.3:99999@HTTP", "[10.1.2.3:99999@HTTP]是一个无效的代理服务器项目"},
      {"1.2.3.4:23@telnet", "[1.2.3.4:23@TE]是一个无效的代理服务器项目"},
      // One line must never become several entries of the system's list.
      {"x;http=5.6.7.8:80", "[x;http=5.6.7.8:80@]是一个无效的代理服务器项目"},
      {"a=b:80@SOCKS5", "[a=b:80@SOCKS5]是一个无效的代理服务器项目"},
      // The program's own relay, whatever the row's type or spelling.
      {"127.0.0.1:8118@SOCKS5", "[127.0.0.1:8118]是本程序自己的本地中转，不能用作代理"},
      {"localhost:08118", "[localhost:08118]是本程序自己的本地中转，不能用作代理"},
  };
  for (const auto& b : bad) {
    SystemProxyChange ch = PlanSystemProxy(b.text, {8118});
    EXPECT_FALSE(ch.accepted) << b.text;
    EXPECT_EQ(ch.error_message, b.message) << b.text;
    EXPECT_EQ(ch.proxy_server, "") << b.text;
  }
}

TEST(ReadBackSystemProxyTest, Table) {
  struct {
    const char *server, *enable, *line, *current;
  } cases[] = {
      {"http=1.2.3.4:80;ftp=5.6.7.8:21", "1", "1.2.3.4:80@HTTP", "1.2.3.4:80@HTTP"},
      {"1.2.3.4:80", "0", "1.2.3.4:80", ""},
      {"1.2.3.4:80", "", "1.2.3.4:80", ""},
      {" socks = 10.1.2.3:1080 ", "1", "10.1.2.3:1080@SOCKS", "10.1.2.3:1080@SOCKS"},
      {"Https=h:443", "7", "h:443@HTTPS", "h:443@HTTPS"},
      {"telnet=h:23", "1", "telnet=h:23", "telnet=h:23"},  // unknown prefix left alone
      {"", "1", "", ""},
      {"1.2.3.4:80", "yes", "1.2.3.4:80", ""},  // non-numeric counts as 0
  };
  for (const auto& c : cases) {
    SystemProxyReadBack r = ReadBackSystemProxy(c.server, c.enable);
    EXPECT_EQ(r.list_line, c.line) << c.server;
    EXPECT_EQ(r.current_proxy, c.current) << c.server;
  }
}

TEST(ProxyForPageTest, PicksTheEntryThatServesThePage) {
  struct Case {
    const char* server;
    const char* scheme;
    const char* where;  // "host:port", or "" when no entry serves the page
  };
  const Case cases[] = {
      {"1.2.3.4:8080", "http", "1.2.3.4:8080"},
      {" 1.2.3.4:8080 ", "https", "1.2.3.4:8080"},
      {"1.2.3.4", "http", "1.2.3.4:80"},
      {"http=1.1.1.1:81;https=2.2.2.2:82", "https", "2.2.2.2:82"},
      {"HTTP=1.1.1.1:81;https=2.2.2.2:82", "http", "1.1.1.1:81"},
      {"ftp=3.3.3.3:21;5.5.5.5:85", "http", "5.5.5.5:85"},
      {"socks=4.4.4.4:1080", "http", "4.4.4.4:1080"},
      {"socks=4.4.4.4:1080;http=1.1.1.1:81", "http", "1.1.1.1:81"},
      {"http://proxy.example:3128/", "http", "proxy.example:3128"},
      {";;1.2.3.4:8080;", "http", "1.2.3.4:8080"},
      {"", "http", ""},
      {"ftp=3.3.3.3:21", "http", ""},
      {"1.2.3.4:0", "http", ""},
      {"1.2.3.4:65536", "http", ""},
      {"1.2.3.4:80x", "http", ""},
      {":8080", "http", ""},
  };
  for (const Case& c : cases) {
    std::string host;
    uint16_t port = 0;
    bool found = ProxyForPage(c.server, c.scheme, &host, &port);
    EXPECT_EQ(found ? host + ":" + std::to_string(port) : "", c.where) << c.server;
  }
}

}  // namespace
}  // namespace core
