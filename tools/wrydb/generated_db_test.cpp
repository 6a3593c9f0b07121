// Checks the database this build generated from the installed data files.
// The addresses are long-lived public services whose country does not move.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/proxylist/ip_location.h"

namespace wrydb {
namespace {

TEST(GeneratedDatabaseTest, KnownAddressesHaveTheirCountry) {
  const std::filesystem::path file(RELAYMOTH_WRY_DB);
  if (!std::filesystem::exists(file)) GTEST_SKIP() << "no database at " << file;
  core::IpLocationDb db(file);
  struct Case {
    const char* address;
    const char* country;  // nullptr: not found
  };
  const Case cases[] = {
      {"8.8.8.8", "美国"},          {"114.114.114.114", "中国"}, {"223.5.5.5", "中国"},
      {"202.12.27.33", "日本"},     {"193.0.6.139", "荷兰"},     {"168.95.1.1", "中国台湾省"},
      {"10.0.0.1", nullptr},        {"127.0.0.1", nullptr},      {"192.168.1.1", nullptr},
      {"255.255.255.255", nullptr},
  };
  for (const Case& c : cases) {
    core::IpLocation loc;
    const bool found = db.LookupIpLocation(c.address, &loc);
    if (c.country == nullptr) {
      EXPECT_FALSE(found) << c.address << " found as " << core::LocationText(loc);
    } else {
      EXPECT_TRUE(found) << c.address;
      EXPECT_EQ(loc.country, c.country) << c.address;
    }
  }
}

}  // namespace
}  // namespace wrydb
