#include "core/proxylist/place_filter.h"

#include <algorithm>
#include <map>

#include "core/base/text.h"
#include "core/proxylist/proxy_list.h"

namespace core {
namespace {

// Provinces, municipalities and regions, longest names first where one
// begins another ("内蒙古" before nothing, but kept in one place).
constexpr std::string_view kProvinces[] = {
    "黑龙江", "内蒙古", "北京", "天津", "上海", "重庆", "河北", "山西", "辽宁", "吉林", "江苏",
    "浙江",   "安徽",   "福建", "江西", "山东", "河南", "湖北", "湖南", "广东", "海南", "四川",
    "贵州",   "云南",   "陕西", "甘肃", "青海", "台湾", "广西", "西藏", "宁夏", "新疆", "香港",
    "澳门"};

// What a carrier's name ends with or is.
constexpr std::string_view kCarriers[] = {"电信", "联通", "移动", "铁通", "教育网", "广电",
                                          "长城宽带", "鹏博士", "方正宽带", "歌华有线",
                                          "阿里云", "腾讯云", "华为云", "百度云"};

// The suffixes an administrative name may carry ("广东省", "广州市").
constexpr std::string_view kSuffixes[] = {"维吾尔自治区", "壮族自治区", "回族自治区",
                                          "特别行政区", "自治区", "省", "市"};

std::string_view StripSuffix(std::string_view s) {
  for (std::string_view suffix : kSuffixes) {
    if (s.size() > suffix.size() && s.substr(s.size() - suffix.size()) == suffix) {
      return s.substr(0, s.size() - suffix.size());
    }
  }
  return s;
}

bool IsCarrier(std::string_view part) {
  for (std::string_view c : kCarriers) {
    if (part.size() >= c.size() && part.substr(part.size() - c.size()) == c) return true;
  }
  return false;
}

// The province a part begins with, and the rest of the part (a city).
bool SplitProvince(std::string_view part, std::string_view* province, std::string_view* city) {
  for (std::string_view p : kProvinces) {
    if (part.substr(0, p.size()) != p) continue;
    *province = p;
    std::string_view rest = part.substr(p.size());
    for (std::string_view suffix : kSuffixes) {
      if (rest.substr(0, suffix.size()) == suffix) {
        rest = rest.substr(suffix.size());
        break;
      }
    }
    *city = StripSuffix(rest);
    return true;
  }
  return false;
}

char KindLetter(PlaceKind kind) {
  return kind == PlaceKind::kProvince ? 'P' : kind == PlaceKind::kCity ? 'C' : 'I';
}

const std::string& ValueOf(const Place& place, PlaceKind kind) {
  return kind == PlaceKind::kProvince ? place.province
         : kind == PlaceKind::kCity   ? place.city
                                      : place.carrier;
}

}  // namespace

Place PlaceOfLocation(std::string_view location) {
  Place place;
  std::string_view text = Trim(location);
  // The reserved mark leads a reserved row's text.
  if (text.substr(0, kReservedMark.size()) == kReservedMark) {
    text = Trim(text.substr(kReservedMark.size()));
  }
  std::vector<std::string_view> parts;
  while (!text.empty()) {
    size_t blank = text.find_first_of(" \t");
    parts.push_back(text.substr(0, blank));
    text = blank == std::string_view::npos ? std::string_view() : Trim(text.substr(blank));
  }
  std::string_view fallback;  // the first part that is neither a province nor a carrier
  for (std::string_view part : parts) {
    std::string_view province, city;
    if (place.province.empty() && SplitProvince(part, &province, &city)) {
      place.province = std::string(province);
      place.city = std::string(city);
    } else if (place.carrier.empty() && IsCarrier(part)) {
      place.carrier = std::string(part);
    } else if (fallback.empty() && part != "中国") {
      fallback = part;
    }
  }
  if (place.province.empty()) place.province = std::string(StripSuffix(fallback));
  return place;
}

bool PlacePasses(const PlaceFilter& filter, const Place& place) {
  if (filter.entries.empty()) return true;
  if (filter.exclude) {
    for (const PlaceEntry& e : filter.entries) {
      if (!e.name.empty() && ValueOf(place, e.kind) == e.name) return false;
    }
    return true;
  }
  for (PlaceKind kind : {PlaceKind::kProvince, PlaceKind::kCity, PlaceKind::kCarrier}) {
    bool asked = false, matched = false;
    for (const PlaceEntry& e : filter.entries) {
      if (e.kind != kind) continue;
      asked = true;
      matched |= ValueOf(place, kind) == e.name;
    }
    if (asked && !matched) return false;
  }
  return true;
}

bool RowPasses(const PlaceFilter& filter, std::string_view location) {
  return filter.entries.empty() || PlacePasses(filter, PlaceOfLocation(location));
}

bool PlaceMatcher::Passes(std::string_view location) {
  if (filter_.entries.empty()) return true;
  auto [at, added] = seen_.try_emplace(location, false);
  if (added) at->second = PlacePasses(filter_, PlaceOfLocation(location));
  return at->second;
}

size_t CountPassingRows(const ProxyList& list, const PlaceFilter& filter) {
  if (filter.entries.empty()) return list.size();
  PlaceMatcher matcher(filter);
  size_t passing = 0;
  for (size_t i = 0; i < list.size(); ++i) passing += matcher.Passes(list.row(i).location);
  return passing;
}

std::vector<PlaceCount> CountPlaces(const ProxyList& list) {
  // Rows share their location texts: each distinct text is read once.
  std::map<std::string_view, int> texts;
  for (size_t i = 0; i < list.size(); ++i) ++texts[list.row(i).location];
  return CountPlacesOfTexts(texts);
}

std::vector<PlaceCount> CountPlacesOfTexts(const std::map<std::string_view, int>& texts) {
  std::map<std::pair<int, std::string>, int> counts;
  for (const auto& [text, rows] : texts) {
    Place place = PlaceOfLocation(text);
    for (PlaceKind kind : {PlaceKind::kProvince, PlaceKind::kCity, PlaceKind::kCarrier}) {
      const std::string& name = ValueOf(place, kind);
      if (!name.empty()) counts[{int(kind), name}] += rows;
    }
  }
  std::vector<PlaceCount> out;
  for (const auto& [key, rows] : counts) out.push_back({{PlaceKind(key.first), key.second}, rows});
  std::stable_sort(out.begin(), out.end(), [](const PlaceCount& a, const PlaceCount& b) {
    return a.place.kind != b.place.kind ? a.place.kind < b.place.kind : a.rows > b.rows;
  });
  return out;
}

PlaceFilter PlaceFilterOfNames(const std::vector<std::string>& names,
                               const std::vector<PlaceCount>& census, bool exclude,
                               std::vector<std::string>* unplaced) {
  PlaceFilter filter;
  filter.exclude = exclude;
  for (const std::string& given : names) {
    std::string_view name = Trim(given);
    if (name.empty()) continue;
    // "广东省" and "深圳市" name what the rows call "广东" and "深圳".
    std::string_view bare = StripSuffix(name);
    const PlaceCount* best = nullptr;
    for (const PlaceCount& c : census) {
      if (c.place.name != name && c.place.name != bare) continue;
      if (!best || c.rows > best->rows) best = &c;
    }
    if (!best) {
      if (unplaced) unplaced->push_back(std::string(name));
      continue;
    }
    if (std::find(filter.entries.begin(), filter.entries.end(), best->place) ==
        filter.entries.end()) {
      filter.entries.push_back(best->place);
    }
  }
  return filter;
}

std::vector<PlaceChoice> PlaceChoices(const std::vector<PlaceCount>& census,
                                      const PlaceFilter& filter) {
  auto named = [&filter](const PlaceEntry& place) {
    return std::find(filter.entries.begin(), filter.entries.end(), place) != filter.entries.end();
  };
  std::vector<PlaceChoice> choices;
  for (const PlaceCount& c : census) choices.push_back({c.place, c.rows, named(c.place)});
  for (const PlaceEntry& e : filter.entries) {
    bool listed = std::any_of(choices.begin(), choices.end(),
                              [&e](const PlaceChoice& c) { return c.place == e; });
    if (!listed) choices.push_back({e, 0, true});
  }
  return choices;
}

std::string PlaceCaptionNote(const std::vector<PlaceCount>& census, const PlaceFilter& filter,
                             size_t passing) {
  if (!filter.empty()) {
    return "  符合地区（" + PlaceFilterText(filter) + "）: " + std::to_string(passing);
  }
  std::string note;
  int shown = 0;
  // The census lists the provinces first, by falling count.
  for (const PlaceCount& c : census) {
    if (c.place.kind != PlaceKind::kProvince || shown == 3) break;
    note += (shown++ == 0 ? "  地区: " : ", ") + c.place.name + " " + std::to_string(c.rows);
  }
  return note;
}

std::string NoRowInPlacesText(const PlaceFilter& filter) {
  return "没有符合地区条件的可用IP（" + PlaceFilterText(filter) + "）";
}

std::string PlaceFilterText(const PlaceFilter& filter) {
  std::string text;
  for (const PlaceEntry& e : filter.entries) {
    if (!text.empty()) text += " ";
    text += e.name;
  }
  if (filter.exclude && !text.empty()) text = "不要: " + text;
  return text;
}

PlaceFilter LoadPlaceFilter(ProfileStore& store) {
  PlaceFilter filter;
  filter.exclude = store.ReadInt(kPlaceFilterSection, "Exclude", 0) != 0;
  int32_t count = std::clamp(store.ReadInt(kPlaceFilterSection, "Count", 0), 0, 1000);
  for (int32_t i = 0; i < count; ++i) {
    std::string value = store.ReadText(kPlaceFilterSection, "Place_" + std::to_string(i), "");
    if (value.size() < 3 || value[1] != ':') continue;
    PlaceEntry e;
    if (value[0] == 'P') {
      e.kind = PlaceKind::kProvince;
    } else if (value[0] == 'C') {
      e.kind = PlaceKind::kCity;
    } else if (value[0] == 'I') {
      e.kind = PlaceKind::kCarrier;
    } else {
      continue;
    }
    e.name = value.substr(2);
    filter.entries.push_back(std::move(e));
  }
  return filter;
}

WriteStatus SavePlaceFilter(const PlaceFilter& filter, ProfileStore& store) {
  WriteStatus ok = store.WriteInt(kPlaceFilterSection, "Exclude", filter.exclude ? 1 : 0);
  for (size_t i = 0; i < filter.entries.size(); ++i) {
    const PlaceEntry& e = filter.entries[i];
    ok &= store.WriteText(kPlaceFilterSection, "Place_" + std::to_string(i),
                          std::string(1, KindLetter(e.kind)) + ":" + e.name);
  }
  // The count last: a save broken off midway never reads entries it did not write.
  ok &= store.WriteInt(kPlaceFilterSection, "Count", int32_t(filter.entries.size()));
  return ok;
}

}  // namespace core
