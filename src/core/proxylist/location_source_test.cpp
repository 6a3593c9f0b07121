#include "core/proxylist/location_source.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "core/proxylist/ipdb_testing.h"
#include "core/proxylist/wry_testing.h"

namespace core {
namespace {

namespace fs = std::filesystem;

class LocationSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("relaymoth-location-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    fs::create_directories(dir_);
    testing::IpdbBuilder ipdb;
    ipdb.Add(uint32_t(183) << 24 | 62 << 16, 16, "中国\t广东\t广州\t\t\t电信");
    good_ipdb_ = ipdb.Bytes();
    Write("wry.dll", testing::BuildWryBytes(
                         {testing::WryRange("183.62.0.0", "183.62.255.255", "中国", "广东")}));
  }
  void TearDown() override { fs::remove_all(dir_); }
  void Write(const char* name, const std::string& bytes) {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
  }

  fs::path dir_;
  std::string good_ipdb_;
};

TEST_F(LocationSourceTest, TheIpdbFileFirstElseTheOlderDatabase) {
  struct Case {
    const char* name;
    bool write_ipdb;
    bool damaged;
    const char* text;
    bool using_ipdb;
    bool error;
  };
  const Case cases[] = {
      {"ipdb present", true, false, "中国 广东广州 电信", true, false},
      {"no ipdb: the older database", false, false, "中国 广东", false, false},
      {"damaged ipdb: the older database, and why", true, true, "中国 广东", false, true},
  };
  for (const Case& c : cases) {
    fs::remove(dir_ / "qqwry.ipdb");
    if (c.write_ipdb) {
      Write("qqwry.ipdb", c.damaged ? good_ipdb_.substr(0, good_ipdb_.size() - 3) : good_ipdb_);
    }
    LocationSource source(dir_ / "qqwry.ipdb", dir_ / "wry.dll");
    EXPECT_EQ(source.Locate("183.62.57.1"), c.text) << c.name;
    EXPECT_EQ(source.Locate("9.9.9.9"), "") << c.name;
    EXPECT_EQ(source.using_ipdb(), c.using_ipdb) << c.name;
    EXPECT_EQ(!source.ipdb_error().empty(), c.error) << c.name;
  }
}

// A crafted database cannot smuggle a line into a list file or a terminal.
TEST_F(LocationSourceTest, LineEndsAndControlCharactersAreDropped) {
  testing::IpdbBuilder ipdb;
  ipdb.Add(uint32_t(183) << 24 | 62 << 16, 16, "中国\t广东\t深圳\r\n6.6.6.6:3128@HTTP\x1b[2J\t\t\t电信");
  Write("qqwry.ipdb", ipdb.Bytes());
  LocationSource source(dir_ / "qqwry.ipdb", dir_ / "wry.dll");
  EXPECT_EQ(source.Locate("183.62.57.1"), "中国 广东深圳 6.6.6.6:3128@HTTP [2J 电信");
}

// A worker's source answers as the owner's does, from the same IPDB file, on
// its own thread.
TEST_F(LocationSourceTest, AnotherThreadsSourceSharesTheIpdbFile) {
  Write("qqwry.ipdb", good_ipdb_);
  LocationSource source(dir_ / "qqwry.ipdb", dir_ / "wry.dll");
  std::shared_ptr<LocationSource> other = source.ForAnotherThread();
  EXPECT_TRUE(source.using_ipdb());
  // Gone from the disk: the worker's source needs no second read of it.
  fs::remove(dir_ / "qqwry.ipdb");
  std::string text;
  std::thread worker([&] { text = other->Locate("183.62.57.1"); });
  worker.join();
  EXPECT_EQ(text, "中国 广东广州 电信");
  EXPECT_EQ(source.Locate("183.62.57.1"), text);
}

}  // namespace
}  // namespace core
