// Test support: builds small location databases in the "wry.dll" layout, with
// any record count, base and stride, so tests can make good and broken files.
// Compiled only into tests; any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace core::testing {

// One record's five texts as they go into the file (GBK bytes). A text longer
// than its room is cut; the byte after each room is written as zero.
struct WryRecord {
  std::string start;
  std::string end;
  std::string country;
  std::string area;
  std::string extra;
};

struct WryLayout {
  uint16_t base = 0;
  uint16_t stride = 105;
  // The count written in the header; the number of records when unset.
  std::optional<int32_t> count;
  // Bytes 0..3, which the lookup never reads.
  std::string_view magic = "TEST";
};

// Record k (from 1) goes to offset k * stride + base + 1; the file ends right
// after the last record. Records overlap when the stride is below 105.
std::string BuildWryBytes(const std::vector<WryRecord>& records, const WryLayout& layout = {});

// A record for the range first..last of dotted quads, keys written "%03d..." and
// the texts given in UTF-8 (stored as GBK).
WryRecord WryRange(std::string_view first, std::string_view last, std::string_view country,
                   std::string_view area = "", std::string_view extra = "");

// Writes `bytes` to `path`, replacing the file. Returns false on failure.
bool WriteBytesToFile(const std::filesystem::path& path, std::string_view bytes);

// A fresh empty directory under the system's temporary folder.
std::filesystem::path MakeTempDir(std::string_view prefix);

}  // namespace core::testing
