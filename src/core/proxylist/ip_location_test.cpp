#include "core/proxylist/ip_location.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/base/text.h"
#include "core/proxylist/wry_testing.h"

namespace core {
namespace {

namespace fs = std::filesystem;
using testing::BuildWryBytes;
using testing::WryLayout;
using testing::WryRange;
using testing::WryRecord;

// ---- keys ------------------------------------------------------------------

struct KeyCase {
  const char* address;
  const char* key;
};

TEST(IpLookupKeyTest, DottedQuadsGiveTheirKey) {
  const KeyCase cases[] = {
      {"61.135.1.2", "061.135.001.002"},
      {"1.2.3.4abc", "001.002.003.004"},
      {"1.2.3.4:8080", "001.002.003.004"},
      {"1.2.3.4.5", "001.002.003.004"},
      {"1..2.3", "001.000.002.003"},
      {"1.2.3.", "001.002.003.000"},
      {"...", "000.000.000.000"},
      {"  10.0.0.1  ", "010.000.000.001"},
      {"1.2.3.4 5", "001.002.003.004"},
      {"1. 2.3.4", "001.000.003.004"},  // a part's value comes from its leading digits only
      {"007.08.9.0010", "007.008.009.010"},
      {"1234.5.6.7", "1234.005.006.007"},
      {"99999999999999999999.1.1.1", "2147483647.001.001.001"},
  };
  for (const KeyCase& c : cases) {
    EXPECT_EQ(IpLookupKey(c.address), c.key) << "address: \"" << c.address << "\"";
  }
}

TEST(IpLookupKeyTest, OthersHaveNoKey) {
  const char* const cases[] = {
      "", "   ", "gateway", "1.2.3", "1.2", "a1.2.3.4", "\t1.2.3.4", "1.2.3x.4", "1,2,3,4",
  };
  for (const char* address : cases) {
    EXPECT_EQ(IpLookupKey(address), "") << "address: \"" << address << "\"";
  }
}

TEST(LocationTextTest, JoinsTrimmedCountryAndArea) {
  struct Case {
    const char* country;
    const char* area;
    const char* text;
  };
  const Case cases[] = {
      {"中国", "北京市 联通", "中国 北京市 联通"},
      {"美国", "", "美国 "},
      {" 日本 ", "  东京\t", "日本 东京"},
      {"", "", " "},
  };
  for (const Case& c : cases) {
    IpLocation loc{c.country, c.area, "", "", ""};
    EXPECT_EQ(LocationText(loc), c.text)
        << "country \"" << c.country << "\" area \"" << c.area << "\"";
  }
}

// ---- searching one database in memory ----------------------------------------

// Records as the lookup needs them: sorted, not overlapping, and a sentinel last
// because record N is never examined.
std::vector<WryRecord> SampleRecords() {
  return {
      WryRange("1.0.0.0", "1.255.255.255", "澳大利亚", "", "AU"),
      WryRange("8.8.8.0", "8.8.8.255", "美国", "加利福尼亚州", "US"),
      WryRange("61.135.0.0", "61.135.255.255", "中国", "北京市 联通", "CN"),
      WryRange("100.0.0.0", "100.0.0.255", "X", "", ""),
      WryRange("999.0.0.0", "999.0.0.0", "sentinel"),
  };
}

struct LookupCase {
  const char* address;
  const char* location;  // nullptr: not found
};

void ExpectLookups(IpLocationDb& db, const std::vector<LookupCase>& cases, const char* what) {
  for (const LookupCase& c : cases) {
    IpLocation loc;
    loc.country = "untouched";
    const bool found = db.LookupIpLocation(c.address, &loc);
    if (c.location == nullptr) {
      EXPECT_FALSE(found) << what << ", address " << c.address << " found as " << LocationText(loc);
      EXPECT_EQ(loc.country, "untouched") << what << ", address " << c.address;
    } else {
      EXPECT_TRUE(found) << what << ", address " << c.address;
      EXPECT_EQ(LocationText(loc), c.location) << what << ", address " << c.address;
    }
  }
}

TEST(IpLocationDbTest, FindsAddressesInsideRanges) {
  IpLocationDb db = IpLocationDb::FromBytes(BuildWryBytes(SampleRecords()));
  ExpectLookups(db,
                {
                    {"61.135.1.2", "中国 北京市 联通"},
                    {"61.135.0.0", "中国 北京市 联通"},      // range start
                    {"61.135.255.255", "中国 北京市 联通"},  // range end
                    {"1.2.3.4abc", "澳大利亚 "},
                    {"1.0.0.0", "澳大利亚 "},
                    {"8.8.8.8", "美国 加利福尼亚州"},
                    {"100.0.0.7", "X "},
                    {"61.134.255.255", nullptr},
                    {"61.136.0.0", nullptr},
                    {"0.255.255.255", nullptr},
                    {"255.255.255.255", nullptr},
                    {"gateway", nullptr},
                    {"1.2.3", nullptr},
                },
                "sample database");
}

TEST(IpLocationDbTest, ReturnsAllFiveFieldsInUtf8) {
  IpLocationDb db = IpLocationDb::FromBytes(BuildWryBytes(SampleRecords()));
  IpLocation loc;
  ASSERT_TRUE(db.LookupIpLocation("61.135.1.2", &loc));
  EXPECT_EQ(loc.country, "中国");
  EXPECT_EQ(loc.area, "北京市 联通");
  EXPECT_EQ(loc.range_start, "061.135.000.000");
  EXPECT_EQ(loc.range_end, "061.135.255.255");
  EXPECT_EQ(loc.extra, "CN");
}

// Record k covers 10.0.k.0 - 10.0.k.255.
std::vector<WryRecord> Consecutive(int n) {
  std::vector<WryRecord> records;
  for (int k = 1; k <= n; ++k) {
    records.push_back(WryRange(Format("10.0.%d.0", k), Format("10.0.%d.255", k), Format("R%d", k)));
  }
  return records;
}

TEST(IpLocationDbTest, LastRecordIsOnlyReachableWhenItIsTheOnlyOne) {
  for (int n = 1; n <= 40; ++n) {
    IpLocationDb db = IpLocationDb::FromBytes(BuildWryBytes(Consecutive(n)));
    for (int k = 1; k <= n; ++k) {
      IpLocation loc;
      const bool found = db.LookupIpLocation(Format("10.0.%d.9", k), &loc);
      const bool reachable = k < n || n == 1;
      EXPECT_EQ(found, reachable) << "record " << k << " of " << n;
      if (found) {
        EXPECT_EQ(loc.country, Format("R%d", k)) << "record " << k << " of " << n;
      }
    }
  }
}

TEST(IpLocationDbTest, HonoursBaseAndStride) {
  struct Layout {
    uint16_t base;
    uint16_t stride;
  };
  const Layout layouts[] = {{0, 105}, {300, 105}, {0, 140}, {1234, 333}, {65535, 65535}};
  for (const Layout& l : layouts) {
    WryLayout layout;
    layout.base = l.base;
    layout.stride = l.stride;
    IpLocationDb db = IpLocationDb::FromBytes(BuildWryBytes(Consecutive(9), layout));
    for (int k = 1; k < 9; ++k) {
      IpLocation loc;
      EXPECT_TRUE(db.LookupIpLocation(Format("10.0.%d.1", k), &loc))
          << "base " << l.base << " stride " << l.stride << " record " << k;
      EXPECT_EQ(loc.country, Format("R%d", k))
          << "base " << l.base << " stride " << l.stride << " record " << k;
    }
  }
}

TEST(IpLocationDbTest, ZerosAreForcedAtTheEndOfEveryField) {
  // One record with no zero byte anywhere: each field must end at its room.
  std::string file = BuildWryBytes({WryRecord{}, WryRecord{}});
  const size_t at = 1 * 105 + 0 + 1;
  std::memset(file.data() + at, 'Z', 105);
  std::memcpy(file.data() + at, "001.000.000.000", 15);
  std::memcpy(file.data() + at + 16, "001.255.255.255", 15);
  IpLocationDb db = IpLocationDb::FromBytes(file);
  IpLocation loc;
  ASSERT_TRUE(db.LookupIpLocation("1.2.3.4", &loc));
  EXPECT_EQ(loc.range_start, "001.000.000.000");
  EXPECT_EQ(loc.range_end, "001.255.255.255");
  EXPECT_EQ(loc.country, std::string(13, 'Z'));
  EXPECT_EQ(loc.area, std::string(46, 'Z'));
  EXPECT_EQ(loc.extra, std::string(11, 'Z'));
}

TEST(IpLocationDbTest, ChineseTextsSurviveTheFilesEncoding) {
  const std::string country = "中华民国";
  const std::string area = "香港特别行政区 电讯盈科";
  std::vector<WryRecord> records = {
      WryRange("1.0.0.0", "1.0.0.255", country, area, "扩展"),
      WryRange("2.0.0.0", "2.0.0.0", "sentinel"),
  };
  ASSERT_EQ(records[0].country.size(), 8u);  // stored as GBK, two bytes a character
  IpLocationDb db = IpLocationDb::FromBytes(BuildWryBytes(records));
  IpLocation loc;
  ASSERT_TRUE(db.LookupIpLocation("1.0.0.1", &loc));
  EXPECT_EQ(loc.country, country);
  EXPECT_EQ(loc.area, area);
  EXPECT_EQ(loc.extra, "扩展");
}

// ---- broken files --------------------------------------------------------------

void PutLe32(std::string& file, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) file[at + size_t(i)] = char(v >> (8 * i));
}
void PutLe16(std::string& file, size_t at, uint16_t v) {
  file[at] = char(v);
  file[at + 1] = char(v >> 8);
}

// A file whose only readable record (covering 1.0.0.0/8) sits at offset 201 and
// whose header says otherwise.
std::string RecordAt201(int32_t count, uint16_t base, uint16_t stride) {
  WryLayout layout;
  layout.base = 95;  // record 1 at 105 + 95 + 1 = 201
  std::string file = BuildWryBytes({WryRange("1.0.0.0", "1.255.255.255", "HIT")}, layout);
  PutLe32(file, 4, uint32_t(count));
  PutLe16(file, 8, base);
  PutLe16(file, 10, stride);
  return file;
}

TEST(IpLocationDbTest, BrokenFilesAreNotFound) {
  const std::string good = BuildWryBytes(SampleRecords());
  struct Case {
    const char* what;
    std::string bytes;
  };
  std::vector<Case> cases = {
      {"empty file", ""},
      {"header cut at 11 bytes", good.substr(0, 11)},
      {"header only", good.substr(0, 12)},
      {"cut inside the first record examined", good.substr(0, 3 * 105 + 1 + 104)},
      // Record 0 would be the record at B + 1: a literal search with N < 1 reads it.
      {"no records", RecordAt201(0, 200, 105)},
      {"negative count", RecordAt201(-1, 200, 105)},
      {"most negative count", RecordAt201(INT32_MIN, 200, 105)},
      {"count past the end of the file", RecordAt201(1000, 95, 105)},
      {"largest count, base and stride", RecordAt201(INT32_MAX, 65535, 65535)},
      // The first midpoint is 2^30: 2^30 * 4 + 200 + 1 wraps to 201 in 32 bits.
      {"offset wrapping at 32 bits", RecordAt201(INT32_MAX, 200, 4)},
      {"base past the end", RecordAt201(1, 65535, 105)},
  };
  for (Case& c : cases) {
    IpLocationDb db = IpLocationDb::FromBytes(std::move(c.bytes));
    IpLocation loc;
    EXPECT_FALSE(db.LookupIpLocation("1.2.3.4", &loc)) << c.what;
    EXPECT_FALSE(db.LookupIpLocation("61.135.1.2", &loc)) << c.what;
  }
  // The same layouts with a sound header do find the record, so the cases above
  // fail for the reason they name.
  IpLocationDb sound = IpLocationDb::FromBytes(RecordAt201(1, 95, 105));
  IpLocation loc;
  EXPECT_TRUE(sound.LookupIpLocation("1.2.3.4", &loc));
}

TEST(IpLocationDbTest, RecordEndingExactlyAtTheEndOfTheFileIsRead) {
  const std::string good = BuildWryBytes(Consecutive(3));  // records 1..3, record 2 is mid
  const size_t record2_end = 2 * 105 + 1 + 105;
  IpLocation loc;
  IpLocationDb exact = IpLocationDb::FromBytes(good.substr(0, record2_end));
  EXPECT_TRUE(exact.LookupIpLocation("10.0.2.1", &loc));
  IpLocationDb short_by_one = IpLocationDb::FromBytes(good.substr(0, record2_end - 1));
  EXPECT_FALSE(short_by_one.LookupIpLocation("10.0.2.1", &loc));
}

TEST(IpLocationDbTest, ZeroStrideReadsOneRecordAndStops) {
  WryLayout layout;
  layout.stride = 0;
  layout.base = 200;  // every record at offset 201
  layout.count = 1000;
  IpLocationDb db =
      IpLocationDb::FromBytes(BuildWryBytes({WryRange("5.0.0.0", "5.0.0.255", "ONLY")}, layout));
  ExpectLookups(db, {{"5.0.0.1", "ONLY "}, {"4.0.0.0", nullptr}, {"6.0.0.0", nullptr}}, "stride 0");
}

// ---- the file on disk ------------------------------------------------------------

class IpLocationFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testing::MakeTempDir("relaymoth-wry");
    ASSERT_FALSE(dir_.empty());
    file_ = dir_ / "wry.dll";
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  static std::string OneRange(const char* country) {
    return BuildWryBytes(
        {WryRange("1.0.0.0", "1.255.255.255", country), WryRange("9.0.0.0", "9.0.0.0", "")});
  }
  // Moves the write time forward, as a later save would.
  void Touch() { fs::last_write_time(file_, fs::last_write_time(file_) + std::chrono::seconds(5)); }

  fs::path dir_;
  fs::path file_;
};

TEST_F(IpLocationFileTest, MissingFileIsNotFoundUntilItAppears) {
  IpLocationDb db(file_);
  ExpectLookups(db, {{"1.2.3.4", nullptr}}, "no file yet");
  ASSERT_TRUE(testing::WriteBytesToFile(file_, OneRange("AAA")));
  ExpectLookups(db, {{"1.2.3.4", "AAA "}}, "file written");
  fs::remove(file_);
  ExpectLookups(db, {{"1.2.3.4", nullptr}}, "file removed");
}

TEST_F(IpLocationFileTest, HeldDatabaseLooksAtTheDiskOnceUntilReleased) {
  // An import of a million rows must not look at the file for every row.
  IpLocationDb db(file_);
  ASSERT_TRUE(testing::WriteBytesToFile(file_, OneRange("AAA")));
  db.Hold(true);
  db.Hold(true);
  ExpectLookups(db, {{"1.2.3.4", "AAA "}}, "held, first look");
  ASSERT_TRUE(testing::WriteBytesToFile(file_, OneRange("BBBB")));
  Touch();
  ExpectLookups(db, {{"1.2.3.4", "AAA "}}, "held: the file is taken as it was");
  db.Hold(false);
  ExpectLookups(db, {{"1.2.3.4", "AAA "}}, "still held once");
  db.Hold(false);
  db.Hold(false);  // one release too many changes nothing
  ExpectLookups(db, {{"1.2.3.4", "BBBB "}}, "released");
}

TEST_F(IpLocationFileTest, ReplacedFileIsReadAgain) {
  IpLocationDb db(file_);
  ASSERT_TRUE(testing::WriteBytesToFile(file_, OneRange("AAA")));
  ExpectLookups(db, {{"1.2.3.4", "AAA "}}, "first file");

  ASSERT_TRUE(testing::WriteBytesToFile(file_, OneRange("BBBB")));  // same size
  Touch();
  ExpectLookups(db, {{"1.2.3.4", "BBBB "}}, "same size, later write time");

  std::string longer = OneRange("CCC") + std::string(50, '\0');
  ASSERT_TRUE(testing::WriteBytesToFile(file_, longer));
  fs::last_write_time(file_, fs::last_write_time(file_) - std::chrono::seconds(60));
  ExpectLookups(db, {{"1.2.3.4", "CCC "}}, "other size, earlier write time");

  ASSERT_TRUE(testing::WriteBytesToFile(file_, OneRange("AAA").substr(0, 100)));
  Touch();
  ExpectLookups(db, {{"1.2.3.4", nullptr}}, "cut short");
}

TEST_F(IpLocationFileTest, OversizedFileIsRefusedAndRecoveredWhenItShrinks) {
  const std::string bytes = OneRange("AAA");
  ASSERT_TRUE(testing::WriteBytesToFile(file_, bytes));
  fs::resize_file(file_, IpLocationDb::kMaxFileBytes + 1);  // sparse: costs no disk
  IpLocationDb db(file_);
  ExpectLookups(db, {{"1.2.3.4", nullptr}}, "oversized file");
  fs::resize_file(file_, bytes.size());
  ExpectLookups(db, {{"1.2.3.4", "AAA "}}, "file back to its size");
}

TEST_F(IpLocationFileTest, DirectoryInPlaceOfTheFileIsNotFound) {
  fs::create_directory(file_);
  IpLocationDb db(file_);
  ExpectLookups(db, {{"1.2.3.4", nullptr}}, "directory");
}

}  // namespace
}  // namespace core
