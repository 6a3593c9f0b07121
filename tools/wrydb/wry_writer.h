// Writes the location database file "wry.dll" from merged ranges. Part of the
// build-time database builder; pure (the caller writes the bytes to disk).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wrydb {

struct WryEntry {
  uint32_t first = 0;
  uint32_t last = 0;
  std::string country;  // UTF-8; stored as GBK, cut to the field
  std::string area;
  std::string extra;
};

// Header magic (bytes 0..3, never read by the lookup).
constexpr std::string_view kWryMagic = "RMLD";
constexpr uint16_t kWryStride = 105;

// The whole file: header, `notice` (ASCII, at most 1024 bytes, kept between the
// header and the first record), one record per entry, then a sentinel record.
// Entries must be sorted and must not overlap; returns nothing, with *error,
// when they do not or when there are more than fit a 32-bit count.
std::optional<std::string> BuildWryFile(const std::vector<WryEntry>& entries,
                                        std::string_view notice, std::string* error);

}  // namespace wrydb
