#include "core/proxylist/proxy_line.h"

#include <gtest/gtest.h>

namespace core {
namespace {

struct GoodLine {
  const char* line;
  const char* address;
  const char* port;
  const char* type;
  const char* remark;
};

TEST(ParseProxyLineTest, AcceptsAndSplits) {
  const GoodLine cases[] = {
      {"61.135.1.2:8080", "61.135.1.2", "8080", "", ""},
      {"  61.135.1.2 : 8080 @ http $中国 北京  ", "61.135.1.2", "8080", "HTTP", "中国 北京"},
      {"1.2.3.4:1080@Socks5 anonymous", "1.2.3.4", "1080", "SOCKS5", ""},
      {"1.2.3.4:80@HTTP/1.1", "1.2.3.4", "80", "HTTP", ""},
      {"1.2.3.4:80@http://x", "1.2.3.4", "80", "HTTP", ""},
      {"1.2.3.4:80@Socks 5", "1.2.3.4", "80", "SOCKS", ""},
      {"1.2.3.4:80@", "1.2.3.4", "80", "", ""},
      {"1.2.3.4:65535", "1.2.3.4", "65535", "", ""},
      {"1.2.3.4:0080", "1.2.3.4", "0080", "", ""},
      {"1.2.3.4:80abc", "1.2.3.4", "80", "", ""},
      {"1.2.3.4:80$note@x", "1.2.3.4", "80", "", "note@x"},
      {"gateway:3128", "gateway", "3128", "", ""},
      {"1.2.3.4:21@ftp", "1.2.3.4", "21", "FTP", ""},
      {"1.2.3.4:80@SOCKS6", "1.2.3.4", "80", "SOCKS", ""},  // the type word stops at 6
      {"1.2.3.4:70@gopher", "1.2.3.4", "70", "GOPHER", ""},
      {"1.2.3.4:443@https", "1.2.3.4", "443", "HTTPS", ""},
      {"1.2.3.4:80@HTTP$<保留ip>中国", "1.2.3.4", "80", "HTTP", "<保留ip>中国"},
      {"1.2.3.4:80\r\n", "1.2.3.4", "80", "", ""},
      {"1.2.3.4:80 junk @socks4 tail $ r:e@m ", "1.2.3.4", "80", "SOCKS4", "r:e@m"},
      {"\t1.2.3.4\t:\t8\t", "1.2.3.4", "8", "", ""},
  };
  for (const GoodLine& c : cases) {
    ProxyLine p;
    ASSERT_TRUE(ParseProxyLine(c.line, &p)) << c.line;
    EXPECT_EQ(p.address, c.address) << c.line;
    EXPECT_EQ(p.port, c.port) << c.line;
    EXPECT_EQ(p.type, c.type) << c.line;
    EXPECT_EQ(p.remark, c.remark) << c.line;
  }
}

TEST(ParseProxyLineTest, Refuses) {
  const char* cases[] = {
      "",
      "   ",
      "1.2.3.4",
      "1.2.3.4:0",
      "1.2.3.4:65536",
      "1.2.3.4:99999999999999999999999",
      "1.2.3.4:port",
      "1.2.3.4:23@telnet",
      "1.2.3.4:80@SOCK",
      "1.2.3.4:80@HTTPSS",
      ";1.2.3.4:80",
      ":8080",
      "http://1.2.3.4:8080",
      "$1.2.3.4:80",
      "@1.2.3.4:80",
      "1.2.3.4@HTTP:80",
  };
  for (const char* line : cases) {
    ProxyLine p;
    EXPECT_FALSE(ParseProxyLine(line, &p)) << '"' << line << '"';
  }
}

TEST(ParseProxyLineTest, OutputsAreEmptiedFirst) {
  ProxyLine p{"old", "1", "HTTP", "old remark"};
  ASSERT_TRUE(ParseProxyLine("5.6.7.8:9", &p));
  EXPECT_EQ(p.type, "");
  EXPECT_EQ(p.remark, "");
}

TEST(ParseProxyLineTest, LongRemarksAreCutToTheirFirstCharacters) {
  std::string han256;
  for (int i = 0; i < 256; ++i) han256 += "国";
  const struct {
    std::string remark, kept;
  } cases[] = {
      {han256, han256},
      {han256 + "x", han256},
      {std::string(1 << 20, 'a'), std::string(256, 'a')},
      {std::string(255, 'b') + "  cd", std::string(255, 'b')},  // no blank left at the cut
      {"é" + std::string(300, 'e'), "é" + std::string(255, 'e')},
  };
  for (const auto& c : cases) {
    ProxyLine p;
    ASSERT_TRUE(ParseProxyLine("1.2.3.4:80@HTTP$" + c.remark, &p)) << c.remark.size();
    EXPECT_EQ(p.remark, c.kept) << c.remark.size();
    EXPECT_EQ(p.type, "HTTP");
  }
}

TEST(ProxyTextFormsTest, FullLineParsesBack) {
  struct {
    const char *address, *port, *type, *location, *full;
  } cases[] = {
      {"1.2.3.4", "80", "HTTP", "中国 北京", "1.2.3.4:80@HTTP$中国 北京"},
      {"1.2.3.4", "80", "", "", "1.2.3.4:80"},
      {"1.2.3.4", "1080", "SOCKS5", "", "1.2.3.4:1080@SOCKS5"},
      {"1.2.3.4", "0080", "", "<保留ip>美国 ", "1.2.3.4:0080$<保留ip>美国 "},
  };
  for (const auto& c : cases) {
    std::string full = FullLineText(c.address, c.port, c.type, c.location);
    EXPECT_EQ(full, c.full);
    ProxyLine p;
    ASSERT_TRUE(ParseProxyLine(full, &p)) << full;
    EXPECT_EQ(p.address, c.address);
    EXPECT_EQ(p.port, c.port);
    EXPECT_EQ(p.type, c.type);
    // The location comes back trimmed, as every remark does.
    EXPECT_EQ(p.remark, std::string(c.location).substr(0, std::string(c.location).find_last_not_of(' ') + 1));
  }
}

TEST(ProxyTextFormsTest, DuplicateKeys) {
  struct {
    const char *address, *port, *type, *key;
  } cases[] = {
      {"1.2.3.4", "1080", "SOCKS5", "1.2.3.4:1080@SOCKS"},
      {"1.2.3.4", "1080", "SOCKS4", "1.2.3.4:1080@SOCKS"},
      {"1.2.3.4", "1080", "SOCKS", "1.2.3.4:1080@SOCKS"},
      {"1.2.3.4", "80", "", "1.2.3.4:80@"},
      {"proxy.example", "80", "HTTP", "PROXY.EXAMPLE:80@HTTP"},
      {"1.2.3.4", "0080", "", "1.2.3.4:0080@"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DuplicateKey(c.address, c.port, c.type), c.key) << c.address << " " << c.type;
  }
}

TEST(ProxyTextFormsTest, KindIndex) {
  EXPECT_EQ(ProxyKindIndex(""), 0);
  EXPECT_EQ(ProxyKindIndex("SOCKS5"), 5);
  EXPECT_EQ(ProxyKindIndex("FTP"), 6);
  EXPECT_EQ(ProxyKindIndex("GOPHER"), -1);
}

}  // namespace
}  // namespace core
