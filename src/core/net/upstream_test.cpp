#include "core/net/upstream.h"

#include <gtest/gtest.h>

namespace core {
namespace {

TEST(UpstreamTest, TypeWordsGiveTheirProtocolAndWhetherTheRelayIsNeeded) {
  struct Case {
    std::string_view type;
    std::optional<ProxyProtocol> protocol;
    bool relay_without_password;
  } cases[] = {
      {"", ProxyProtocol::kHttp, false},         {"HTTP", ProxyProtocol::kHttp, false},
      {"HTTPS", ProxyProtocol::kHttp, false},    {"SOCKS", ProxyProtocol::kSocks4, false},
      {"SOCKS4", ProxyProtocol::kSocks4, false}, {"SOCKS4A", ProxyProtocol::kSocks4a, true},
      {"SOCKS5", ProxyProtocol::kSocks5, true},  {"FTP", std::nullopt, false},
      {"GOPHER", std::nullopt, false},           {"socks5", std::nullopt, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.type));
    EXPECT_EQ(ProtocolOfType(c.type), c.protocol);
    if (!c.protocol) continue;
    UpstreamProxy upstream{{"1.2.3.4", 1080}, *c.protocol, std::nullopt};
    EXPECT_EQ(NeedsLocalRelay(upstream), c.relay_without_password);
    upstream.credentials = ProxyCredentials{"u", "p"};
    EXPECT_TRUE(NeedsLocalRelay(upstream));
  }
}

}  // namespace
}  // namespace core
