#include "core/net/net_target.h"

#include <gtest/gtest.h>

namespace core {
namespace {

TEST(ClassifyHostTest, Kinds) {
  struct Case {
    std::string host;
    HostKind kind;
  } cases[] = {
      {"example.com", HostKind::kName},
      {"xn--fiqs8s.cn", HostKind::kName},
      {"my_host-1", HostKind::kName},
      {std::string(255, 'a'), HostKind::kName},
      {std::string(256, 'a'), HostKind::kInvalid},
      {"", HostKind::kInvalid},
      {"bad host", HostKind::kInvalid},
      {"evil\r\nX: y", HostKind::kInvalid},
      {std::string("a\0b", 3), HostKind::kInvalid},
      {"1.2.3.4", HostKind::kIpv4},
      {"0.0.0.0", HostKind::kIpv4},
      {"255.255.255.255", HostKind::kIpv4},
      {"256.1.1.1", HostKind::kName},  // not an address, so a name for the proxy
      {"1.2.3", HostKind::kName},
      {"1.2.3.4.5", HostKind::kName},
      {"1.2.3.0004", HostKind::kName},
      {"::", HostKind::kIpv6},
      {"::1", HostKind::kIpv6},
      {"[::1]", HostKind::kIpv6},
      {"2001:db8::8a2e:370:7334", HostKind::kIpv6},
      {"1:2:3:4:5:6:7:8", HostKind::kIpv6},
      {"::ffff:1.2.3.4", HostKind::kIpv6},
      {"1:2:3:4:5:6:1.2.3.4", HostKind::kIpv6},
      {"1::", HostKind::kIpv6},
      {"1:2:3:4:5:6:7::", HostKind::kIpv6},
      {"1:2:3:4:5:6:7:8:9", HostKind::kInvalid},
      {"1:2:3:4:5:6:7::8", HostKind::kInvalid},  // "::" standing for no group
      {"1:2:3:4:5:6:7", HostKind::kInvalid},
      {"1:::2", HostKind::kInvalid},
      {"1::2::3", HostKind::kInvalid},
      {":1::2", HostKind::kInvalid},
      {"12345::", HostKind::kInvalid},
      {"g::1", HostKind::kInvalid},
      {"fe80::1%eth0", HostKind::kInvalid},
      {"::1.2.3.4:5", HostKind::kInvalid},
      {"1.2.3.4::", HostKind::kInvalid},
      {"[::1", HostKind::kInvalid},
      {"[]", HostKind::kInvalid},
  };
  for (const Case& c : cases) EXPECT_EQ(ClassifyHost(c.host), c.kind) << c.host;
}

TEST(ClassifyHostTest, LiteralBytes) {
  std::array<uint8_t, 16> b;
  ASSERT_EQ(ClassifyHost("10.20.30.40", &b), HostKind::kIpv4);
  EXPECT_EQ(b[0], 10);
  EXPECT_EQ(b[3], 40);
  EXPECT_EQ(b[4], 0);
  ASSERT_EQ(ClassifyHost("[2001:db8::ff:1.2.3.4]", &b), HostKind::kIpv6);
  std::array<uint8_t, 16> want = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0xff, 1, 2, 3, 4};
  EXPECT_EQ(b, want);
}

TEST(ParseAuthorityTest, Table) {
  struct Case {
    const char* text;
    uint16_t default_port;
    bool ok;
    const char* host;
    uint16_t port;
  } cases[] = {
      {"example.com:443", 0, true, "example.com", 443},
      {"example.com", 80, true, "example.com", 80},
      {"example.com", 0, false, "", 0},
      {"1.2.3.4:65535", 0, true, "1.2.3.4", 65535},
      {"[::1]:8080", 0, true, "::1", 8080},
      {"[::1]", 80, true, "::1", 80},
      {"::1", 80, false, "", 0},
      {"::1:80", 0, false, "", 0},
      {"[::1]8080", 0, false, "", 0},
      {"[1.2.3.4]:80", 0, false, "", 0},
      {"h:0", 0, false, "", 0},
      {"h:65536", 0, false, "", 0},
      {"h:+80", 0, false, "", 0},
      {"h:080", 0, true, "h", 80},
      {"h:", 80, false, "", 0},
      {":80", 0, false, "", 0},
      {"h h:80", 0, false, "", 0},
  };
  for (const Case& c : cases) {
    NetTarget t{"left over", 1};
    EXPECT_EQ(ParseAuthority(c.text, c.default_port, &t), c.ok) << c.text;
    EXPECT_EQ(t.host, c.host) << c.text;
    EXPECT_EQ(t.port, c.port) << c.text;
  }
}

TEST(HostPortTextTest, BracketsIpv6Only) {
  EXPECT_EQ(HostPortText({"example.com", 80}), "example.com:80");
  EXPECT_EQ(HostPortText({"2001:db8::1", 443}), "[2001:db8::1]:443");
  EXPECT_EQ(HostPortText({"[::1]", 443}), "[::1]:443");
}

TEST(IsLoopbackHostTest, Table) {
  struct Case {
    const char* host;
    bool loopback;
  } cases[] = {
      {"localhost", true},   {"LocalHost.", true},   {"127.0.0.1", true},
      {"127.9.9.9", true},   {"0.0.0.0", true},      {"::1", true},
      {"[::1]", true},       {"::", true},           {"::ffff:127.0.0.1", true},
      {"128.0.0.1", false},  {"::2", false},         {"::ffff:10.0.0.1", false},
      {"localhost2", false}, {"example.com", false}, {"", false},
      // Every spelling the system's address parser takes, and the local names.
      {"127.1", true},       {"2130706433", true},   {"0177.0.0.1", true},
      {"0x7f.0.0.1", true},  {"0x7F000001", true},   {"127.0.1", true},
      {"0", true},           {"a.localhost", true},  {"localhost.localdomain", true},
      {"0x80.0.0.1", false}, {"2147483649", false},  {"127.256.0.0.1", false},
      {"08.0.0.1", false},   {"1.2.3.4.5", false},   {"4294967296", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsLoopbackHost(c.host), c.loopback) << c.host;
}

TEST(NamesOwnPortTest, RowAddressAndPortText) {
  const std::vector<uint16_t> ports = {0, 8118, 9050};
  struct Case {
    const char* address;
    const char* port;
    bool own;
  } cases[] = {
      {"localhost", "9050", true}, {"[::1]", "008118", true},     {"127.0.0.1", "8119", false},
      {"10.0.0.1", "8118", false}, {"127.0.0.1", "0", false},     {"127.0.0.1", "8118x", false},
      {"127.0.0.1", "", false},    {"127.0.0.1", "73654", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NamesOwnPort(c.address, c.port, ports), c.own) << c.address << ":" << c.port;
  }
}

TEST(Base64EncodeTest, KnownVectors) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {{"", ""},
               {"f", "Zg=="},
               {"fo", "Zm8="},
               {"foo", "Zm9v"},
               {"foob", "Zm9vYg=="},
               {"fooba", "Zm9vYmE="},
               {"foobar", "Zm9vYmFy"},
               {"\xff\xfe", "//4="},
               {"用户:密码", "55So5oi3OuWvhueggQ=="}};
  for (const Case& c : cases) {
    EXPECT_EQ(Base64Encode(c.in), c.out) << c.in;
    EXPECT_EQ(Base64Decode(c.out), c.in) << c.out;
  }
  EXPECT_FALSE(Base64Decode("Zm9v!"));
}

}  // namespace
}  // namespace core
