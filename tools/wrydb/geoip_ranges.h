// IPv4 ranges with country codes, as tor-geoipdb ships them ("INTLOW,INTHIGH,CC"
// lines, '#' comments), and the merging of neighbouring ranges of one country.
// Part of the build-time database builder; pure.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wrydb {

struct GeoRange {
  uint32_t first = 0;
  uint32_t last = 0;
  std::string code;  // two letters, upper case; "??" where the source does not know
  bool operator==(const GeoRange&) const = default;
};

// Every range of `text`, in file order. Blank lines and lines starting with '#'
// are skipped; CR LF line ends are accepted. Returns nothing, with *error naming
// the line, when a line is not "first,last,CC" with first <= last < 2^32.
std::optional<std::vector<GeoRange>> ParseGeoip(std::string_view text, std::string* error);

// Sorts `ranges` by their first address and joins each range to the one before
// when they touch (previous last + 1 == first) and share a code. Returns nothing,
// with *error naming both, when two ranges overlap.
std::optional<std::vector<GeoRange>> MergeRanges(std::vector<GeoRange> ranges, std::string* error);

// "a.b.c.d" of an address held as a 32-bit number (for messages and tests).
std::string DottedQuad(uint32_t address);

}  // namespace wrydb
