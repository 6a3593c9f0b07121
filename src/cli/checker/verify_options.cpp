#include "cli/checker/verify_options.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <ostream>
#include <sstream>

#include "core/base/text.h"
#include "core/proxylist/country_names.h"
#include "core/proxylist/list_sort.h"
#include "core/proxylist/mo_catalog.h"
#include "core/proxylist/proxy_line.h"
#include "core/sysproxy/exit_check.h"
#include "core/verify/connect_gate.h"
#include "core/verify/site_url.h"

namespace cli {
namespace {

bool Seconds(const std::string& text, uint32_t* ms) {
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(v > 0) || v > core::kMaxConnectTimeoutMs / 1000.0) {
    return false;
  }
  *ms = uint32_t(std::lround(v * 1000));
  return *ms > 0;
}

bool WholeNumber(const std::string& text, int64_t* value) {
  if (text.empty() || core::LeadingDigits(text).size() != text.size() || text.size() > 9) {
    return false;
  }
  *value = core::LeadingDigitsValue(text);
  return true;
}

std::string JsonText(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          out += core::Format("\\u%04x", unsigned(static_cast<unsigned char>(c)));
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string CsvText(std::string_view s) {
  if (s.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(s);
  std::string out = "\"";
  for (char c : s) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

const char* SiteWord(int status) {
  switch (status) {
    case core::kSiteUsable:
      return "usable";
    case core::kSiteNoMatch:
      return "no match";
    case core::kSiteUnreachable:
      return "unreachable";
    case core::kSiteNotTested:
      return "not tested";
    default:
      return "failed";
  }
}

// The first reason a row failed for; "" for a working row.
std::string MainReason(const CheckedRow& row) {
  if (row.result.usable) return "";
  for (const std::string& r : row.report.reasons) {
    if (!r.empty()) return r;
  }
  return "";
}

std::string CountryOf(std::string_view location) {
  return std::string(core::Trim(location.substr(0, location.find(' '))));
}

}  // namespace

std::optional<core::AnonymityGrade> GradeOfWord(std::string_view word) {
  for (auto g : {core::AnonymityGrade::kTransparent, core::AnonymityGrade::kAnonymous,
                 core::AnonymityGrade::kElite, core::AnonymityGrade::kTunnelled}) {
    if (core::EqualsIgnoreAsciiCase(word, core::GradeWord(g))) return g;
  }
  return std::nullopt;
}

bool ParseVerifyArgs(const std::vector<std::string>& args, VerifyOptions* out, std::string* error) {
  VerifyOptions o;
  auto value_of = [&](size_t* i, std::string* v) {
    const std::string& a = args[*i];
    if (++*i == args.size()) {
      *error = a + " needs a value";
      return false;
    }
    *v = args[*i];
    return true;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string v;
    if (a == "--site") {
      if (!value_of(&i, &v)) return false;
      // The verify string follows the last "=": a URL that holds "=" itself ends
      // with "=STRING", or with "=" for any page.
      SiteOption site;
      size_t eq = v.rfind('=');
      site.url = v.substr(0, eq);
      if (eq != std::string::npos) site.verify_string = v.substr(eq + 1);
      core::SiteUrl url;
      core::FetchTarget target;
      if (!core::ParseSiteUrl(site.url, &url) || !core::FetchTargetOfUrl(url, &target)) {
        *error = "--site takes an http:// or https:// URL: " + site.url;
        return false;
      }
      if (int(o.sites.size()) >= core::kMaxSites) {
        *error = core::Format("at most %d sites", core::kMaxSites);
        return false;
      }
      o.sites.push_back(std::move(site));
    } else if (a == "--type") {
      if (!value_of(&i, &v)) return false;
      o.untyped_as = core::AsciiUpperCopy(v);
      if (!core::ProtocolOfType(o.untyped_as) || o.untyped_as.empty()) {
        *error = "--type takes HTTP, HTTPS, SOCKS4, SOCKS4A or SOCKS5: " + v;
        return false;
      }
    } else if (a == "--detect") {
      o.detect = true;
    } else if (a == "--connect-timeout" || a == "--timeout") {
      if (!value_of(&i, &v)) return false;
      if (!Seconds(v, a == "--timeout" ? &o.timeout_ms : &o.connect_timeout_ms)) {
        *error = a + " takes seconds: " + v;
        return false;
      }
    } else if (a == "--in-flight") {
      if (!value_of(&i, &v)) return false;
      int64_t n = 0;
      if (!WholeNumber(v, &n) || n < core::kMinConnectsInFlight || n > core::kMaxConnectsInFlight) {
        *error = core::Format("--in-flight takes %d..%d: ", core::kMinConnectsInFlight,
                              core::kMaxConnectsInFlight) +
                 v;
        return false;
      }
      o.in_flight = int(n);
    } else if (a == "--csv") {
      o.form = OutputForm::kCsv;
    } else if (a == "--json") {
      o.form = OutputForm::kJson;
    } else if (a == "--only-working") {
      o.only_working = true;
    } else if (a == "--country") {
      if (!value_of(&i, &o.country)) return false;
    } else if (a == "--area" || a == "--not-area") {
      if (!value_of(&i, &v)) return false;
      if (!o.areas.empty() && o.areas_excluded != (a == "--not-area")) {
        *error = "--area and --not-area cannot be given together";
        return false;
      }
      o.areas_excluded = a == "--not-area";
      for (size_t start = 0; start <= v.size();) {
        size_t comma = std::min(v.find(',', start), v.size());
        std::string_view name = core::Trim(std::string_view(v).substr(start, comma - start));
        if (!name.empty()) o.areas.emplace_back(name);
        start = comma + 1;
      }
    } else if (a == "--grade") {
      if (!value_of(&i, &v)) return false;
      for (size_t start = 0; start <= v.size();) {
        size_t comma = std::min(v.find(',', start), v.size());
        std::string word(core::Trim(std::string_view(v).substr(start, comma - start)));
        start = comma + 1;
        std::optional<core::AnonymityGrade> g = GradeOfWord(word);
        if (!g) {
          *error = "--grade takes transparent, anonymous, elite or tunnel: " + std::string(word);
          return false;
        }
        o.grades.push_back(*g);
      }
    } else if (a == "--judge" || a == "--exit-page") {
      if (!value_of(&i, &v)) return false;
      core::SiteUrl url;
      core::FetchTarget target;
      if (!core::ParseSiteUrl(v, &url) || !core::FetchTargetOfUrl(url, &target)) {
        *error = a + " takes an http:// or https:// URL: " + v;
        return false;
      }
      (a == "--judge" ? o.judge_url : o.exit_url) = v;
    } else if (a == "--exit") {
      if (o.exit_url.empty()) o.exit_url = std::string(core::kDefaultExitCheckPage);
    } else if (a == "--shard") {
      if (!value_of(&i, &v)) return false;
      size_t slash = v.find('/');
      int64_t index = 0, count = 0;
      if (slash == std::string::npos || !WholeNumber(v.substr(0, slash), &index) ||
          !WholeNumber(v.substr(slash + 1), &count) || count < 1 || index < 1 || index > count) {
        *error = "--shard takes I/N with 1 <= I <= N: " + v;
        return false;
      }
      o.shard_index = int(index);
      o.shard_count = int(count);
    } else if (a == "--db" || a == "--ca-file") {
      if (!value_of(&i, a == "--db" ? &o.db : &o.ca_file)) return false;
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      *error = "unknown option " + a;
      return false;
    } else {
      o.inputs.push_back(a);
    }
  }
  if (o.inputs.empty()) o.inputs.push_back("-");
  *out = std::move(o);
  return true;
}

bool InShard(size_t index, int shard, int count) {
  if (count <= 1) return true;
  return index % size_t(count) == size_t(shard - 1);
}

std::optional<core::UpstreamProxy> UpstreamOfRow(std::string_view address, std::string_view port,
                                                 std::string_view type) {
  std::optional<core::ProxyProtocol> protocol = core::ProtocolOfType(core::AsciiUpperCopy(type));
  std::optional<uint16_t> number = core::ProbePort(port);
  if (!protocol || !number) return std::nullopt;
  core::UpstreamProxy up;
  up.proxy.host = std::string(core::Trim(address));
  if (up.proxy.host.size() > 2 && up.proxy.host.front() == '[' && up.proxy.host.back() == ']') {
    up.proxy.host = up.proxy.host.substr(1, up.proxy.host.size() - 2);
  }
  if (core::ClassifyHost(up.proxy.host) == core::HostKind::kInvalid) return std::nullopt;
  up.proxy.port = *number;
  up.protocol = *protocol;
  return up;
}

bool ResolveCountryCode(VerifyOptions* options, std::string_view json_path,
                        std::string_view mo_path, std::string* error) {
  const std::string& code = options->country;
  bool is_code = code.size() == 2 && std::isalpha(static_cast<unsigned char>(code[0])) &&
                 std::isalpha(static_cast<unsigned char>(code[1]));
  if (!is_code) return true;
  auto read = [error](std::string_view path, std::string* bytes) {
    std::ifstream file{std::string(path), std::ios::binary};
    std::ostringstream all;
    all << file.rdbuf();
    if (!file) {
      *error = "--country " + std::string(path) + ": cannot be read (install iso-codes)";
      return false;
    }
    *bytes = std::move(all).str();
    return true;
  };
  std::string json, mo;
  if (!read(json_path, &json) || !read(mo_path, &mo)) return false;
  std::optional<std::vector<core::IsoCountry>> countries = core::ReadIsoCountries(json, error);
  std::optional<core::MoCatalog> zh = core::ParseMoCatalog(mo, error);
  if (!countries || !zh) {
    *error = "--country: " + *error;
    return false;
  }
  std::string upper = core::AsciiUpperCopy(code);
  auto texts = core::BuildCountryTexts(*countries, *zh);
  auto found = texts.find(core::CanonicalCode(upper));
  if (found == texts.end()) {
    *error = "--country " + code + ": not a country code";
    return false;
  }
  options->country_names = {found->second.country};
  // A name too long for the database's country field goes whole into its area.
  if (!found->second.area.empty()) options->country_names.push_back(found->second.area);
  return true;
}

bool InCountry(std::string_view location, const VerifyOptions& options) {
  if (options.country.empty()) return true;
  std::string country = CountryOf(location);
  const std::vector<std::string>& names = options.country_names;
  return names.empty() ? country == options.country
                       : std::find(names.begin(), names.end(), country) != names.end();
}

bool PassesFilters(const CheckedRow& row, const VerifyOptions& options) {
  if (options.only_working && !row.result.usable) return false;
  if (!InCountry(row.location, options)) return false;
  if (!options.grades.empty() && std::find(options.grades.begin(), options.grades.end(),
                                           row.report.grade) == options.grades.end()) {
    return false;
  }
  return true;
}

double SecondsLeft(size_t total, size_t begun, size_t done, double rate_per_s,
                   uint32_t since_last_ms, uint32_t row_budget_ms) {
  if (done >= total) return 0;
  if (done == 0 || rate_per_s <= 0) return -1;
  double waiting = double(total - std::max(begun, done)) / rate_per_s;
  double in_flight =
      begun > done && row_budget_ms > since_last_ms ? (row_budget_ms - since_last_ms) / 1000.0 : 0;
  return std::max(waiting, in_flight);
}

void SortByScore(std::vector<CheckedRow>& rows) {
  std::sort(rows.begin(), rows.end(),
            [](const CheckedRow& a, const CheckedRow& b) { return a.order < b.order; });
  std::vector<int32_t> scores;
  scores.reserve(rows.size());
  for (const CheckedRow& r : rows) scores.push_back(r.result.score);
  std::vector<CheckedRow> sorted;
  sorted.reserve(rows.size());
  for (size_t i : core::ScoreSortOrder(scores, 1)) sorted.push_back(std::move(rows[i]));
  rows.swap(sorted);
}

void WriteRows(const std::vector<CheckedRow>& rows, const std::vector<std::string>& site_urls,
               OutputForm form, std::ostream& out) {
  size_t sites = 0;
  for (const CheckedRow& r : rows) sites = std::max(sites, r.report.outcomes.size());
  if (form == OutputForm::kCsv) {
    out << "address,port,type,working,score,reason";
    for (size_t i = 0; i < sites; ++i) out << ",site" << i + 1 << "_seconds";
    out << ",location,exit,grade,user\n";
  }
  for (const CheckedRow& r : rows) {
    const core::CheckReport& rep = r.report;
    switch (form) {
      case OutputForm::kList: {
        std::string remark = core::Format("[%d] ", int(r.result.score)) + r.result.status;
        if (!r.location.empty()) remark += " " + r.location;
        // Rows of one gateway differ by their user name: the line names it.
        if (r.user.empty()) {
          out << core::FullLineText(r.address, r.port, r.type, remark) << '\n';
        } else {
          out << core::LoginProxyText(r.address, r.port, r.type, r.user) << '$' << remark << '\n';
        }
        break;
      }
      case OutputForm::kCsv: {
        out << CsvText(r.address) << ',' << CsvText(r.port) << ',' << CsvText(r.type) << ','
            << (r.result.usable ? 1 : 0) << ',' << r.result.score << ',' << CsvText(MainReason(r));
        for (size_t i = 0; i < sites; ++i) {
          out << ',';
          if (i < rep.outcomes.size() && rep.outcomes[i].status == core::kSiteUsable) {
            out << core::Format("%.3f", rep.outcomes[i].seconds);
          }
        }
        out << ',' << CsvText(r.location) << ',' << CsvText(rep.exit_address) << ','
            << core::GradeWord(rep.grade) << ',' << CsvText(r.user) << '\n';
        break;
      }
      case OutputForm::kJson: {
        out << "{\"address\":" << JsonText(r.address) << ",\"port\":" << JsonText(r.port)
            << ",\"type\":" << JsonText(r.type);
        if (!r.user.empty()) out << ",\"user\":" << JsonText(r.user);
        out
            << ",\"detected\":" << (r.detected ? "true" : "false")
            << ",\"working\":" << (r.result.usable ? "true" : "false")
            << ",\"score\":" << r.result.score << ",\"reason\":" << JsonText(MainReason(r))
            << ",\"sites\":[";
        for (size_t i = 0; i < rep.outcomes.size(); ++i) {
          if (i) out << ',';
          out << "{\"url\":" << JsonText(i < site_urls.size() ? site_urls[i] : "")
              << ",\"result\":\"" << SiteWord(rep.outcomes[i].status) << '"';
          if (rep.outcomes[i].status == core::kSiteUsable ||
              rep.outcomes[i].status == core::kSiteNoMatch) {
            out << core::Format(",\"seconds\":%.3f", rep.outcomes[i].seconds);
          }
          if (!rep.reasons[i].empty()) out << ",\"reason\":" << JsonText(rep.reasons[i]);
          out << '}';
        }
        out << "],\"location\":" << JsonText(r.location);
        if (!rep.exit_address.empty() || !rep.exit_reason.empty()) {
          out << ",\"exit\":" << JsonText(rep.exit_address);
          if (!rep.exit_reason.empty()) out << ",\"exit_reason\":" << JsonText(rep.exit_reason);
        }
        if (rep.grade != core::AnonymityGrade::kUnknown || !rep.grade_reason.empty()) {
          out << ",\"grade\":" << JsonText(core::GradeWord(rep.grade));
          if (!rep.grade_reason.empty()) out << ",\"grade_reason\":" << JsonText(rep.grade_reason);
        }
        out << "}\n";
        break;
      }
    }
  }
}

}  // namespace cli
