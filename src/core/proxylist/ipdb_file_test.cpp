#include "core/proxylist/ipdb_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/proxylist/ipdb_testing.h"

namespace core {
namespace {

using testing::IpdbBuilder;


uint32_t Ip(int a, int b, int c, int d) { return uint32_t(a) << 24 | b << 16 | c << 8 | d; }

IpdbBuilder Sample() {
  IpdbBuilder b;
  b.Add(Ip(183, 62, 0, 0), 16, "中国\t广东\t广州\t\t\t电信");
  b.Add(Ip(61, 135, 169, 0), 24, "中国\t北京\t北京\t\t某公司节点\t联通");
  b.Add(Ip(8, 8, 8, 0), 24, "美国\t加利福尼亚州\t圣克拉拉\t山景城\t\t谷歌");
  b.Add(Ip(1, 1, 1, 0), 24, "澳大利亚\t\t\t\t\t");
  return b;
}

TEST(IpdbFileTest, LooksUpAddressesAndBuildsTheColumnText) {
  std::string error;
  std::optional<IpdbFile> db = IpdbFile::FromBytes(Sample().Bytes(), &error);
  ASSERT_TRUE(db) << error;
  struct Case {
    const char* address;
    const char* text;  // nullptr: not found
  };
  const Case cases[] = {
      {"183.62.57.1", "中国 广东广州 电信"},
      {" 183.62.0.0 ", "中国 广东广州 电信"},
      {"61.135.169.125", "中国 北京 联通"},
      {"8.8.8.8", "美国 加利福尼亚州圣克拉拉山景城 谷歌"},
      {"1.1.1.1", "澳大利亚"},
      {"61.135.170.1", nullptr},
      {"9.9.9.9", nullptr},
      {"1.2.3", nullptr},
      {"256.1.1.1", nullptr},
      {"1.2.3.4x", nullptr},
      {"1.2.3.4.5", nullptr},
      {"", nullptr},
  };
  for (const Case& c : cases) {
    IpdbRecord r;
    r.country = "untouched";
    bool found = db->Lookup(c.address, &r);
    EXPECT_EQ(found, c.text != nullptr) << c.address;
    if (c.text) {
      EXPECT_EQ(IpdbLocationText(r), c.text) << c.address;
    } else {
      EXPECT_EQ(r.country, "untouched") << c.address;
    }
  }
}

// Another layout: the fields in another order, two languages, and an IPv6 trie
// whose header does not name the IPv4 root (it is found by walking the
// IPv4-mapped prefix).
TEST(IpdbFileTest, AnotherFieldsLayoutAndLanguage) {
  IpdbBuilder b(true);
  b.header_extra =
      R"("ip_version":3,"build":1789565555,"languages":{"EN":0,"CN":3},)"
      R"("fields":["isp_domain","city_name","country_name"])";
  b.Add(Ip(183, 62, 0, 0), 16, "Telecom\tGuangzhou\tChina\t电信\t广州\t中国");
  std::string error;
  std::optional<IpdbFile> db = IpdbFile::FromBytes(b.Bytes(), &error);
  ASSERT_TRUE(db) << error;
  EXPECT_EQ(db->build(), 1789565555);
  IpdbRecord r;
  ASSERT_TRUE(db->Lookup("183.62.1.1", &r));
  EXPECT_EQ(IpdbLocationText(r), "中国 广州 电信");
}

TEST(IpdbFileTest, DamagedFilesAreRefusedAtOpen) {
  std::string good = Sample().Bytes();
  auto with_header = [](std::string extra) {
    IpdbBuilder b = Sample();
    b.header_extra = std::move(extra);
    return b.Bytes();
  };
  struct Case {
    const char* name;
    std::string bytes;
  };
  std::string long_header = good;
  long_header[0] = '\x7F';
  const Case cases[] = {
      {"empty", ""},
      {"three bytes", good.substr(0, 3)},
      {"header past the end", long_header},
      {"truncated", good.substr(0, good.size() - 5)},
      {"bytes past the end", good + "xx"},
      {"header not JSON", [&] {
         std::string s = good;
         s[4] = '[';
         return s;
       }()},
      {"no fields", with_header(R"("v4node":0)")},
      {"no country field", with_header(R"("fields":["city_name"],"v4node":0)")},
      {"IPv4 root outside the trie", with_header(R"("fields":["country_name"],"v4node":99)")},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(IpdbFile::FromBytes(c.bytes, &error)) << c.name;
    EXPECT_FALSE(error.empty()) << c.name;
  }
  std::string error;
  EXPECT_FALSE(IpdbFile::Open("/no/such/dir/qqwry.ipdb", &error));
  EXPECT_EQ(error, "cannot read the file");
}

// A child that points past the end of the records, and children that loop back
// to the root: lookups end without a record and never read past the end.
TEST(IpdbFileTest, BrokenPointersAndLoopsFindNothing) {
  IpdbBuilder b = Sample();
  b.raw[{0, 0}] = 0xFFFFFFF0u;  // addresses below 128.0.0.0: far past the end
  b.raw[{0, 1}] = 0;            // addresses from 128.0.0.0: back to the root
  std::string error;
  std::optional<IpdbFile> db = IpdbFile::FromBytes(b.Bytes(), &error);
  ASSERT_TRUE(db) << error;
  IpdbRecord r;
  EXPECT_FALSE(db->Lookup("61.135.169.125", &r));
  EXPECT_FALSE(db->Lookup("183.62.57.1", &r));
}

// The database the set-up fetches, when it is there.
TEST(IpdbFileTest, TheFetchedDatabaseKnowsProvinceCityAndCarrier) {
  const char* path = std::getenv("RELAYMOTH_IPDB");
  if (path == nullptr || *path == '\0') GTEST_SKIP() << "RELAYMOTH_IPDB not set (no fetched database)";
  std::string error;
  std::optional<IpdbFile> db = IpdbFile::Open(path, &error);
  if (!db && error == "cannot read the file") GTEST_SKIP() << path << " is not there";
  ASSERT_TRUE(db) << error;
  IpdbRecord r;
  ASSERT_TRUE(db->Lookup("183.62.57.1", &r));
  EXPECT_EQ(IpdbLocationText(r), "中国 广东广州 电信");
  ASSERT_TRUE(db->Lookup("61.135.169.125", &r));
  EXPECT_EQ(r.country + r.region + r.city + r.isp, "中国北京北京联通");
}

}  // namespace
}  // namespace core
