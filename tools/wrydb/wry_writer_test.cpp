#include "wrydb/wry_writer.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "core/base/text.h"
#include "core/proxylist/ip_location.h"
#include "wrydb/geoip_ranges.h"

namespace wrydb {
namespace {

// The writer's files are read by the program's own lookup.
struct Probe {
  uint32_t address;
  std::optional<std::string> location;  // the column text; nothing: not found
};

void ExpectProbes(const std::string& file, const std::vector<Probe>& probes,
                  const std::string& what) {
  core::IpLocationDb db = core::IpLocationDb::FromBytes(file);
  for (const Probe& p : probes) {
    core::IpLocation loc;
    const bool found = db.LookupIpLocation(DottedQuad(p.address), &loc);
    if (!p.location) {
      EXPECT_FALSE(found) << what << ": " << DottedQuad(p.address) << " found as "
                          << core::LocationText(loc);
    } else {
      EXPECT_TRUE(found) << what << ": " << DottedQuad(p.address);
      if (found) {
        EXPECT_EQ(core::LocationText(loc), *p.location) << what << ": " << DottedQuad(p.address);
      }
    }
  }
}

TEST(WryWriterTest, EveryRangeIsFoundFromFirstToLastAddress) {
  for (uint32_t n : {1, 2, 3, 4, 5, 8, 13, 64, 100, 1000}) {
    // Ranges of 16 addresses, each followed by a gap of 16; the first starts at 0.
    std::vector<WryEntry> entries;
    std::vector<Probe> probes;
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t first = i * 32;
      const std::string name = core::Format("C%u", i);
      entries.push_back({first, first + 15, name, "", ""});
      for (uint32_t inside : {first, first + 7, first + 15}) probes.push_back({inside, name + " "});
      for (uint32_t gap : {first + 16, first + 31}) probes.push_back({gap, std::nullopt});
    }
    probes.push_back({0xFFFFFFFF, std::nullopt});
    std::string error;
    auto file = BuildWryFile(entries, "test", &error);
    ASSERT_TRUE(file) << error;
    ExpectProbes(*file, probes, core::Format("ranges: %u", n));
  }
}

TEST(WryWriterTest, WritesTextsAndTheWholeAddressSpace) {
  const std::vector<WryEntry> entries = {
      {0, 0x00FFFFFF, "保留", "", "ZZ"},
      {0x08080800, 0x080808FF, "美国", "", "US"},
      {0x3D870000, 0x3D87FFFF, "波黑", "波斯尼亚和黑塞哥维那", "BA"},
      {0xFF000000, 0xFFFFFFFF, "顶端", std::string(60, 'a'), "TOP"},
  };
  std::string error;
  // A notice longer than the space before record 1 moves the records back.
  auto file = BuildWryFile(entries, std::string(500, 'n'), &error);
  ASSERT_TRUE(file) << error;
  ExpectProbes(*file,
               {
                   {0, "保留 "},
                   {0x00FFFFFF, "保留 "},
                   {0x01000000, std::nullopt},
                   {0x08080808, "美国 "},
                   {0x3D870102, "波黑 波斯尼亚和黑塞哥维那"},
                   {0xFEFFFFFF, std::nullopt},
                   {0xFF000000, "顶端 " + std::string(46, 'a')},
                   {0xFFFFFFFF, "顶端 " + std::string(46, 'a')},
               },
               "sample");
  core::IpLocationDb db = core::IpLocationDb::FromBytes(*file);
  core::IpLocation loc;
  ASSERT_TRUE(db.LookupIpLocation("8.8.8.8", &loc));
  EXPECT_EQ(loc.range_start, "008.008.008.000");
  EXPECT_EQ(loc.range_end, "008.008.008.255");
  EXPECT_EQ(loc.extra, "US");
}

TEST(WryWriterTest, EmptyDatabaseFindsNothing) {
  std::string error;
  auto file = BuildWryFile({}, "", &error);
  ASSERT_TRUE(file) << error;
  ExpectProbes(*file, {{0, std::nullopt}, {0x08080808, std::nullopt}, {0xFFFFFFFF, std::nullopt}},
               "empty");
}

TEST(WryWriterTest, RefusesUnsortedOrOverlappingEntries) {
  const std::vector<std::vector<WryEntry>> cases = {
      {{10, 19, "A", "", ""}, {0, 9, "B", "", ""}},
      {{0, 10, "A", "", ""}, {10, 19, "B", "", ""}},
      {{5, 4, "A", "", ""}},
  };
  for (const auto& entries : cases) {
    std::string error;
    EXPECT_FALSE(BuildWryFile(entries, "", &error)) << DottedQuad(entries[0].first);
  }
}

}  // namespace
}  // namespace wrydb
