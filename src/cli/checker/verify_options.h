// The `verify` command's options and the parts of its work that need no network:
// reading the command line, the shard rule, the filters, the order and the three
// output forms. Linux only, like the command.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "core/net/upstream.h"
#include "core/verify/proxy_check.h"
#include "core/verify/row_result.h"

namespace cli {

enum class OutputForm { kList, kCsv, kJson };

struct SiteOption {
  std::string url;
  std::string verify_string;
};

struct VerifyOptions {
  std::vector<std::string> inputs;  // files, URLs, "-" for standard input
  std::vector<SiteOption> sites;    // empty: the program's built-in site
  std::string untyped_as;           // --type, upper-cased
  bool detect = false;
  uint32_t connect_timeout_ms = core::kDefaultConnectTimeoutMs;
  uint32_t timeout_ms = core::kConnectTimeoutMs + core::kReceiveTimeoutMs;
  int in_flight = core::kDefaultConnectsInFlight;
  OutputForm form = OutputForm::kList;
  bool only_working = false;
  std::string country;
  // The names the location database writes for a --country code (ResolveCountryCode).
  std::vector<std::string> country_names;
  // --area / --not-area: provinces, cities and carriers ("广东,电信"), matched
  // against the rows' locations before any check (core::PlaceFilterOfNames).
  std::vector<std::string> areas;
  bool areas_excluded = false;
  std::vector<core::AnonymityGrade> grades;  // --grade: keep only these
  std::string judge_url;
  std::string exit_url;  // --exit: the address-echo page
  int shard_index = 0;   // 1-based; 0: no shard
  int shard_count = 0;
  std::string db;
  std::string ca_file;
};

// Reads the options after "verify". False with *error set for bad usage.
bool ParseVerifyArgs(const std::vector<std::string>& args, VerifyOptions* out, std::string* error);

// A --country of two ASCII letters is an ISO 3166 code ("CN", "us"): fills
// country_names with the names the location database writes for it (its short
// and full Simplified Chinese names), read from iso-codes' catalogue and
// translation, the files the database itself is built from. Any other --country
// is a name and is left as it is. False with *error when the files cannot be read
// or the code is unknown.
inline constexpr std::string_view kIsoCountriesJson = "/usr/share/iso-codes/json/iso_3166-1.json";
inline constexpr std::string_view kIsoCountriesZhMo =
    "/usr/share/locale/zh_CN/LC_MESSAGES/iso_3166-1.mo";
bool ResolveCountryCode(VerifyOptions* options, std::string_view json_path,
                        std::string_view mo_path, std::string* error);

// Whether the input row at `index` (0-based, in input order) is in slice `shard`
// (1-based) of `count`: rows are dealt out in turn, so each slice gets every
// count-th row and a list shaped like a public one gives every slice the same mix.
bool InShard(size_t index, int shard, int count);

// The proxy a parsed row is checked through; none for a type no proxy protocol
// speaks (FTP, GOPHER) or an address or port that cannot be connected to.
std::optional<core::UpstreamProxy> UpstreamOfRow(std::string_view address, std::string_view port,
                                                 std::string_view type);

// One checked proxy as the output shows it.
struct CheckedRow {
  size_t order = 0;  // input order
  std::string address;
  std::string port;
  std::string type;  // the row's type, or the detected one ("" when none answered)
  bool detected = false;
  std::string user;  // the log-in's user name ("" without one); never the password
  core::CheckReport report;
  core::RowResult result;
  std::string location;
};

// Whether a row located at `location` is in --country (always without one).
// Locations are known before any check, so rows outside it are never checked.
bool InCountry(std::string_view location, const VerifyOptions& options);
bool PassesFilters(const CheckedRow& row, const VerifyOptions& options);

// The progress line's time left, in seconds: the rows not yet begun at the
// rate so far, but never less than the last begun row may still take (the rows
// in flight may each wait for their time-outs: `row_budget_ms` after it began,
// `since_last_ms` ago). -1 while nothing is known (no row done yet).
double SecondsLeft(size_t total, size_t begun, size_t done, double rate_per_s,
                   uint32_t since_last_ms, uint32_t row_budget_ms);

// Best score first, in the order the program's end of a verification sorts its
// list (ScoreSortOrder): among equal scores the later input row first.
void SortByScore(std::vector<CheckedRow>& rows);

// The list form is the program's own proxy line with the short result and the
// location as remark ("1.2.3.4:8080@HTTP$[87] 0.4;0.6 中国 北京"); CSV has a header
// line; JSON is one object a line.
// `site_urls` name the sites of the run, in order.
void WriteRows(const std::vector<CheckedRow>& rows, const std::vector<std::string>& site_urls,
               OutputForm form, std::ostream& out);

// The words of the grades, for --grade and the output.
std::optional<core::AnonymityGrade> GradeOfWord(std::string_view word);

}  // namespace cli
