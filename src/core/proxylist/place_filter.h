// Places and carriers: where a row's exit is, read from its location text, and
// the filter that keeps automatic switching, failover and the relay's rotation
// to the places the user chose ("only Guangdong", "only China Telecom", "not
// my own city"). Pure; any thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/base/profile_store.h"

namespace core {

class ProxyList;

// What a location text says of a row's place. Texts come as the location
// databases write them ("中国 广东广州 电信", "广东省广州市 电信", "美国") or as
// the user typed them; a part that names no known province is the place itself.
struct Place {
  std::string province;  // a Chinese province or municipality, or a country elsewhere
  std::string city;      // "" when the text names none
  std::string carrier;   // "" when the text names none
};
Place PlaceOfLocation(std::string_view location);

enum class PlaceKind : uint8_t { kProvince, kCity, kCarrier };

struct PlaceEntry {
  PlaceKind kind = PlaceKind::kProvince;
  std::string name;
  bool operator==(const PlaceEntry& o) const { return kind == o.kind && name == o.name; }
};

// The places the user ticked. Without `exclude`, a row passes when, for each
// kind with a ticked entry, its place of that kind is ticked ("广东" and "电信":
// Guangdong rows of China Telecom). With `exclude`, a row passes when none of
// its places is ticked. No entry: every row passes.
struct PlaceFilter {
  std::vector<PlaceEntry> entries;
  bool exclude = false;
  bool empty() const { return entries.empty(); }
  bool operator==(const PlaceFilter& o) const {
    return entries == o.entries && exclude == o.exclude;
  }
};
bool PlacePasses(const PlaceFilter& filter, const Place& place);
bool RowPasses(const PlaceFilter& filter, std::string_view location);

// RowPasses for walks over many rows: the rows of a list share a few thousand
// location texts, and each distinct text is read once. It keeps views of the
// texts it was asked about and of `filter`, so it lives only while the list
// and the filter stay unchanged.
class PlaceMatcher {
 public:
  explicit PlaceMatcher(const PlaceFilter& filter) : filter_(filter) {}
  bool Passes(std::string_view location);

 private:
  const PlaceFilter& filter_;
  std::unordered_map<std::string_view, bool> seen_;
};

// How many rows of `list` pass `filter` (every row without a filter).
size_t CountPassingRows(const ProxyList& list, const PlaceFilter& filter);

// The places of a list with their row counts, for the filter's choices:
// provinces, then cities, then carriers, each by falling count.
struct PlaceCount {
  PlaceEntry place;
  int rows = 0;
};
std::vector<PlaceCount> CountPlaces(const ProxyList& list);
// The same over location texts with the rows located at each.
std::vector<PlaceCount> CountPlacesOfTexts(const std::map<std::string_view, int>& texts);

// Place names typed on a command line ("广东", "深圳市", "电信") as a filter: each
// name takes the kind it has among the rows at hand (`census`), the kind with
// the most rows when it has several, so that "广东,电信" keeps Guangdong's
// China Telecom rows and "广东,浙江" the rows of either province. Names no row
// is located at go to `unplaced` and are left out of the filter.
PlaceFilter PlaceFilterOfNames(const std::vector<std::string>& names,
                               const std::vector<PlaceCount>& census, bool exclude,
                               std::vector<std::string>* unplaced);

// What the filter's dialog offers: every place of `census` with its row count,
// ticked when `filter` names it, then the places `filter` names that no row
// has (0 rows, ticked), so that the filter in force always shows.
struct PlaceChoice {
  PlaceEntry place;
  int rows = 0;
  bool ticked = false;
};
std::vector<PlaceChoice> PlaceChoices(const std::vector<PlaceCount>& census,
                                      const PlaceFilter& filter);

// The list caption's word on places. With a filter, how many rows pass it
// ("  符合地区（广东 电信）: 123"); without one, the three provinces with the
// most rows ("  地区: 广东 300, 北京 200, 上海 100"), "" when no row names one.
std::string PlaceCaptionNote(const std::vector<PlaceCount>& census, const PlaceFilter& filter,
                             size_t passing);

// Said where switching shows its state when no usable row passes the filter:
// "没有符合地区条件的可用IP（广东 电信）".
std::string NoRowInPlacesText(const PlaceFilter& filter);

// How the filter is told in words ("广东 电信", "不要: 广州"); "" for none.
std::string PlaceFilterText(const PlaceFilter& filter);

// The profile's "Place Filter" section: "Exclude" and "Count", then
// "Place_<n>" as "<kind letter>:<name>" (P, C, I). Values that do not read
// as an entry are skipped; a refused write is reported.
inline constexpr std::string_view kPlaceFilterSection = "Place Filter";
PlaceFilter LoadPlaceFilter(ProfileStore& store);
WriteStatus SavePlaceFilter(const PlaceFilter& filter, ProfileStore& store);

}  // namespace core
