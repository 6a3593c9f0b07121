// wrydb: builds the IP location database "wry.dll" at build time from Debian's
// data files.
//
//   wrydb --geoip /usr/share/tor/geoip
//         --iso-json /usr/share/iso-codes/json/iso_3166-1.json
//         --iso-mo /usr/share/locale/zh_CN/LC_MESSAGES/iso_3166-1.mo
//         --out bin/wry.dll
//
// The file it writes:
// - Header: bytes 0..3 the magic "RMLD"; N (int32 LE), the record count; B
//   (uint16 LE), the base; S (uint16 LE) = 105, the stride. Record k (1..N) is
//   at k * S + B + 1, so records are packed back to back from offset 106 + B.
//   Between the header and record 1 an ASCII notice names the data's sources and
//   licence, zero-terminated; B is chosen to leave it room.
// - Records: 105 bytes each in the reader's fixed fields: range start at 0 and
//   range end at 16 ("%03d.%03d.%03d.%03d"), country at 32 (13 bytes), area at 46
//   (46 bytes), extra at 93 (11 bytes), all GBK, and zero at 15, 31, 45, 92 and
//   104. Extra holds the two-letter country code.
// - One record per run of neighbouring ranges of the same country, sorted, in
//   the order of the addresses. Addresses no range covers have no record and
//   are not found. Ranges whose country is unknown ("??") are left out.
// - A last, sentinel record: the reader's search never examines record N (unless
//   it is the only one), so the sentinel makes every real range reachable. Its
//   range ends before it starts, so it can never match.
// - Country names: Simplified Chinese from the iso-codes catalogue. Six Chinese
//   characters fit the country field; a longer name goes whole into the area and
//   the country gets a short well-known form, e.g. "波黑 波斯尼亚和黑塞哥维那"
//   (see FitCountryName).
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/codepage.h"
#include "core/base/text.h"
#include "core/proxylist/country_names.h"
#include "core/proxylist/mo_catalog.h"
#include "wrydb/geoip_ranges.h"
#include "wrydb/wry_writer.h"

namespace {

namespace fs = std::filesystem;

bool ReadFile(const fs::path& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream ss;
  ss << in.rdbuf();
  *out = ss.str();
  return bool(in) || in.eof();
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "wrydb: %s\n", message.c_str());
  return 1;
}

// The "Generated:" line of the geoip file's header comment, if there is one.
std::string GeneratedDate(std::string_view geoip) {
  const size_t at = geoip.find("# Generated:");
  if (at == std::string_view::npos) return {};
  std::string_view rest = geoip.substr(at + 12);
  return std::string(core::Trim(rest.substr(0, rest.find('\n'))));
}

}  // namespace

int main(int argc, char** argv) {
  const auto started = std::chrono::steady_clock::now();
  std::map<std::string, std::string> args;
  bool verbose = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--verbose") {
      verbose = true;
    } else if (i + 1 < argc) {
      args[argv[i]] = argv[i + 1];
      ++i;
    }
  }
  for (const char* required : {"--geoip", "--iso-json", "--iso-mo", "--out"}) {
    if (args[required].empty()) {
      return Fail(std::string("missing ") + required +
                  "; usage: wrydb --geoip FILE --iso-json FILE --iso-mo FILE --out FILE "
                  "[--verbose]");
    }
  }

  std::string geoip_text, json_text, mo_bytes, error;
  for (auto [name, out] : {std::pair{"--geoip", &geoip_text}, std::pair{"--iso-json", &json_text},
                           std::pair{"--iso-mo", &mo_bytes}}) {
    if (!ReadFile(fs::path(args[name]), out)) return Fail("cannot read " + args[name]);
  }

  auto ranges = wrydb::ParseGeoip(geoip_text, &error);
  if (!ranges) return Fail(args["--geoip"] + ": " + error);
  auto countries = core::ReadIsoCountries(json_text, &error);
  if (!countries) return Fail(args["--iso-json"] + ": " + error);
  auto catalog = core::ParseMoCatalog(mo_bytes, &error);
  if (!catalog) return Fail(args["--iso-mo"] + ": " + error);
  const auto texts = core::BuildCountryTexts(*countries, *catalog);

  // Keep the ranges whose country has a name, then join neighbours.
  std::vector<wrydb::GeoRange> named;
  std::map<std::string, size_t> skipped;
  for (wrydb::GeoRange& r : *ranges) {
    r.code = std::string(core::CanonicalCode(r.code));
    if (texts.count(r.code) == 0) {
      ++skipped[r.code];
      continue;
    }
    named.push_back(std::move(r));
  }
  auto merged = wrydb::MergeRanges(std::move(named), &error);
  if (!merged) return Fail(args["--geoip"] + ": " + error);

  std::vector<wrydb::WryEntry> entries;
  entries.reserve(merged->size());
  for (const wrydb::GeoRange& r : *merged) {
    const core::CountryText& t = texts.find(r.code)->second;
    entries.push_back({r.first, r.last, t.country, t.area, r.code});
  }

  std::string notice =
      "Relaymoth IP location database. IPv4 ranges: IPFire Location database via "
      "tor-geoipdb, CC BY-SA 4.0";
  if (const std::string date = GeneratedDate(geoip_text); !date.empty()) {
    notice += " (generated " + date + ")";
  }
  notice += ". Country names: iso-codes (LGPL-2.1+).";
  auto file = wrydb::BuildWryFile(entries, notice, &error);
  if (!file) return Fail(error);

  // Write beside the target and rename, so a failed build never leaves half a file.
  const fs::path out(args["--out"]);
  const fs::path tmp = fs::path(out).concat(".tmp");
  {
    std::ofstream o(tmp, std::ios::binary | std::ios::trunc);
    o.write(file->data(), std::streamsize(file->size()));
    if (!o) return Fail("cannot write " + tmp.string());
  }
  std::error_code ec;
  fs::rename(tmp, out, ec);
  if (ec) return Fail("cannot rename " + tmp.string() + ": " + ec.message());

  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - started)
                      .count();
  std::printf(
      "wrydb: %s: %zu bytes, %zu records (%zu ranges read, %zu after merging, + 1 "
      "sentinel), %lld ms\n",
      out.string().c_str(), file->size(), entries.size() + 1, ranges->size(), merged->size(),
      static_cast<long long>(ms));
  for (const auto& [code, n] : skipped) {
    std::printf("wrydb: left out %zu range(s) of unknown country \"%s\"\n", n, code.c_str());
  }
  size_t shortened = 0;
  for (const auto& [code, t] : texts) {
    if (!t.area.empty()) {
      ++shortened;
      if (verbose) {
        std::printf("wrydb: %s shown as \"%s %s\"\n", code.c_str(), t.country.c_str(),
                    t.area.c_str());
      }
    }
    bool lossless = true;
    core::Utf8ToGbk(t.country + t.area, &lossless);
    if (!lossless) {
      std::printf("wrydb: warning: the name of %s has characters without a GBK form\n",
                  code.c_str());
    }
  }
  std::printf(
      "wrydb: %zu long country names shortened, full name in the area (--verbose lists "
      "them)\n",
      shortened);
  return 0;
}
