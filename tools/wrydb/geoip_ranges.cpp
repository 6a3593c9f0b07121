#include "wrydb/geoip_ranges.h"

#include <algorithm>

#include "core/base/text.h"

namespace wrydb {
namespace {

// A whole field of decimal digits no larger than 2^32 - 1.
bool ParseAddress(std::string_view field, uint32_t* out) {
  if (field.empty() || field.size() > 10 || core::LeadingDigits(field).size() != field.size()) {
    return false;
  }
  const int64_t v = core::LeadingDigitsValue(field, int64_t{1} << 40);
  if (v > int64_t{UINT32_MAX}) return false;
  *out = uint32_t(v);
  return true;
}

bool IsCode(std::string_view code) {
  if (code == "??") return true;
  return code.size() == 2 && std::all_of(code.begin(), code.end(), [](char c) {
           return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
         });
}

}  // namespace

std::optional<std::vector<GeoRange>> ParseGeoip(std::string_view text, std::string* error) {
  std::vector<GeoRange> ranges;
  size_t line_no = 0;
  while (!text.empty()) {
    ++line_no;
    const size_t nl = text.find('\n');
    std::string_view line = core::Trim(text.substr(0, nl));
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    if (line.empty() || line.front() == '#') continue;

    const size_t c1 = line.find(',');
    const size_t c2 = c1 == std::string_view::npos ? c1 : line.find(',', c1 + 1);
    GeoRange r;
    if (c2 == std::string_view::npos || !ParseAddress(line.substr(0, c1), &r.first) ||
        !ParseAddress(line.substr(c1 + 1, c2 - c1 - 1), &r.last) || !IsCode(line.substr(c2 + 1)) ||
        r.first > r.last) {
      *error = "line " + std::to_string(line_no) + ": not \"first,last,CC\": " + std::string(line);
      return std::nullopt;
    }
    r.code = std::string(line.substr(c2 + 1));
    ranges.push_back(std::move(r));
  }
  return ranges;
}

std::optional<std::vector<GeoRange>> MergeRanges(std::vector<GeoRange> ranges, std::string* error) {
  std::stable_sort(ranges.begin(), ranges.end(),
                   [](const GeoRange& a, const GeoRange& b) { return a.first < b.first; });
  std::vector<GeoRange> merged;
  for (GeoRange& r : ranges) {
    if (!merged.empty()) {
      GeoRange& prev = merged.back();
      if (r.first <= prev.last) {
        *error = "ranges overlap: " + DottedQuad(prev.first) + "-" + DottedQuad(prev.last) + " " +
                 prev.code + " and " + DottedQuad(r.first) + "-" + DottedQuad(r.last) + " " +
                 r.code;
        return std::nullopt;
      }
      if (r.first == prev.last + 1 && r.code == prev.code) {
        prev.last = r.last;
        continue;
      }
    }
    merged.push_back(std::move(r));
  }
  return merged;
}

std::string DottedQuad(uint32_t a) {
  return core::Format("%u.%u.%u.%u", a >> 24, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF);
}

}  // namespace wrydb
