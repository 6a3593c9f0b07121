// Country texts for the location database: the Simplified Chinese name of each
// two-letter code, fitted to the record's fixed fields. The database builder
// (tools/wrydb) writes them into records; the command-line tool reads the same
// names to turn a country code into what the location column shows. Pure.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/proxylist/mo_catalog.h"

namespace core {

// Bytes of GBK text the record's country and area fields hold.
constexpr size_t kCountryRoom = 13;
constexpr size_t kAreaRoom = 46;

// One entry of iso-codes' iso_3166-1.json (English names).
struct IsoCountry {
  std::string alpha_2;
  std::string name;
  std::string common_name;  // empty when the entry has none
};

// The entries of iso_3166-1.json. Returns nothing, with *error, when the text is
// not that file's shape.
std::optional<std::vector<IsoCountry>> ReadIsoCountries(std::string_view json, std::string* error);

// Texts of one record, UTF-8; each fits its field once encoded as GBK.
struct CountryText {
  std::string country;
  std::string area;
  bool operator==(const CountryText&) const = default;
};

// The fitting rule. A full name that fits the country field is the country and
// the area stays empty. A longer one moves whole into the area (cut at a
// character if even that is too long) and the country gets a shorter name: the
// builder's own table of well-known short names first, then the catalogue's
// common name when it fits, and as a last resort the full name cut at the last
// whole character that fits.
CountryText FitCountryName(std::string_view code, std::string_view full_name,
                           std::string_view common_name);

// The longest beginning of `utf8`, ending at a character boundary, whose GBK
// form takes at most `max_bytes`.
std::string CutToGbkBytes(std::string_view utf8, size_t max_bytes);

// Code → texts for every ISO code (names translated through `zh`, English when the
// catalogue lacks one) and for the non-ISO codes geolocation data uses (EU, AP,
// A1, A2, AN, CS, XK). "??" and codes known to neither have no entry.
std::map<std::string, CountryText, std::less<>> BuildCountryTexts(
    const std::vector<IsoCountry>& countries, const MoCatalog& zh);

// Codes some data sets use in place of the ISO one ("UK" for "GB").
std::string_view CanonicalCode(std::string_view code);

}  // namespace core
