#include "core/proxylist/country_names.h"

#include <iterator>

#include "core/base/codepage.h"
#include "core/base/json_reader.h"

namespace core {
namespace {

struct CodeText {
  const char* code;
  const char* text;
};

// Well-known short forms for the names that do not fit six Chinese characters.
// The full name is still shown, in the area.
constexpr CodeText kShortNames[] = {
    {"AG", "安提瓜巴布达"}, {"BA", "波黑"},       {"BO", "玻利维亚"},     {"BQ", "荷兰加勒比区"},
    {"CD", "刚果（金）"},   {"CS", "塞黑"},       {"DO", "多米尼加"},     {"FK", "福克兰群岛"},
    {"GS", "南乔治亚岛"},   {"HM", "赫德岛"},     {"IO", "英属印度洋"},   {"KN", "圣基茨尼维斯"},
    {"MP", "北马里亚纳"},   {"PF", "玻利尼西亚"}, {"PG", "巴新"},         {"PM", "圣皮埃尔"},
    {"SH", "圣赫勒拿"},     {"SJ", "斯瓦尔巴"},   {"ST", "圣多美"},       {"TC", "特克斯凯科斯"},
    {"TF", "法属南部领地"}, {"TT", "特里尼达"},   {"UM", "美国外小岛屿"}, {"VC", "圣文森特"},
    {"VG", "英属维尔京"},   {"VI", "美属维尔京"}, {"WF", "瓦利斯富图纳"},
};

// Codes in geolocation data that ISO 3166-1 does not (or no longer) assign.
constexpr CodeText kOtherCodes[] = {
    {"A1", "匿名代理"},     {"A2", "卫星网络"},       {"AP", "亚太地区"}, {"EU", "欧洲"},
    {"AN", "荷属安的列斯"}, {"CS", "塞尔维亚和黑山"}, {"XK", "科索沃"},
};

constexpr CodeText kAliases[] = {{"UK", "GB"}};

const char* Find(const CodeText* begin, const CodeText* end, std::string_view code) {
  for (const CodeText* p = begin; p != end; ++p) {
    if (code == p->code) return p->text;
  }
  return nullptr;
}

size_t GbkSize(std::string_view utf8) { return core::Utf8ToGbk(utf8).size(); }

}  // namespace

std::string CutToGbkBytes(std::string_view utf8, size_t max_bytes) {
  size_t keep = 0;
  size_t gbk = 0;
  size_t i = 0;
  while (i < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    size_t len = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (len > utf8.size() - i) len = utf8.size() - i;
    gbk += GbkSize(utf8.substr(i, len));
    if (gbk > max_bytes) break;
    i += len;
    keep = i;
  }
  return std::string(utf8.substr(0, keep));
}

CountryText FitCountryName(std::string_view code, std::string_view full_name,
                           std::string_view common_name) {
  if (GbkSize(full_name) <= kCountryRoom) return {std::string(full_name), ""};
  std::string_view shorter;
  if (const char* s = Find(std::begin(kShortNames), std::end(kShortNames), code)) {
    shorter = s;
  } else if (!common_name.empty() && GbkSize(common_name) <= kCountryRoom) {
    shorter = common_name;
  } else {
    shorter = full_name;
  }
  return {CutToGbkBytes(shorter, kCountryRoom), CutToGbkBytes(full_name, kAreaRoom)};
}

std::optional<std::vector<IsoCountry>> ReadIsoCountries(std::string_view json, std::string* error) {
  std::optional<core::JsonValue> root = core::ParseJson(json, error);
  if (!root) return std::nullopt;
  const core::JsonValue* list = root->Find("3166-1");
  if (list == nullptr || list->kind != core::JsonValue::Kind::kArray) {
    *error = "no \"3166-1\" list";
    return std::nullopt;
  }
  std::vector<IsoCountry> countries;
  for (const core::JsonValue& entry : list->items) {
    IsoCountry c{entry.StringOr("alpha_2", ""), entry.StringOr("name", ""),
                 entry.StringOr("common_name", "")};
    if (c.alpha_2.size() != 2 || c.name.empty()) {
      *error = "entry " + std::to_string(countries.size() + 1) + " lacks alpha_2 or name";
      return std::nullopt;
    }
    countries.push_back(std::move(c));
  }
  return countries;
}

std::map<std::string, CountryText, std::less<>> BuildCountryTexts(
    const std::vector<IsoCountry>& countries, const MoCatalog& zh) {
  // The empty text when the catalogue has no translation.
  auto translate = [&zh](const std::string& english) -> std::string {
    auto it = english.empty() ? zh.end() : zh.find(english);
    return it == zh.end() ? std::string() : it->second;
  };
  std::map<std::string, CountryText, std::less<>> texts;
  for (const CodeText& other : kOtherCodes) {
    texts[other.code] = FitCountryName(other.code, other.text, "");
  }
  for (const IsoCountry& c : countries) {
    std::string full = translate(c.name);
    if (full.empty()) full = c.name;
    texts[c.alpha_2] = FitCountryName(c.alpha_2, full, translate(c.common_name));
  }
  return texts;
}

std::string_view CanonicalCode(std::string_view code) {
  if (const char* iso = Find(std::begin(kAliases), std::end(kAliases), code)) return iso;
  return code;
}

}  // namespace core
