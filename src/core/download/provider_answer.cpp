#include "core/download/provider_answer.h"

#include <algorithm>
#include <unordered_map>

#include "core/base/json_reader.h"
#include "core/base/text.h"
#include "core/proxylist/address_extractor.h"
#include "core/proxylist/proxy_line.h"
#include "core/proxylist/proxy_table.h"

namespace core {
namespace {

constexpr std::string_view kAddressFields[] = {"ip", "host", "server"};
constexpr std::string_view kPortFields[] = {"port", "端口"};
constexpr std::string_view kUserFields[] = {"user", "username", "account"};
constexpr std::string_view kPasswordFields[] = {"pass", "password", "pwd"};
constexpr std::string_view kTypeFields[] = {"protocol", "type", "scheme"};
// A provider's words, never a proxy even when they name an address.
constexpr std::string_view kMessageFields[] = {"msg",   "message", "errmsg", "error_msg",
                                               "error", "info",    "desc"};

template <size_t N>
bool IsOneOf(std::string_view name, const std::string_view (&names)[N]) {
  return std::any_of(std::begin(names), std::end(names),
                     [&](std::string_view n) { return EqualsIgnoreAsciiCase(Trim(name), n); });
}

bool AllDigits(std::string_view s) { return !s.empty() && LeadingDigits(s).size() == s.size(); }

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// "YYYY-MM-DD HH:MM[:SS]" as seconds since 1970 on the wall clock it was written in.
std::optional<int64_t> ReadLocalTime(std::string_view s) {
  int v[6] = {0, 0, 0, 0, 0, 0};
  size_t field = 0, digits = 0;
  for (size_t i = 0; i <= s.size(); ++i) {
    char c = i < s.size() ? s[i] : '\0';
    if (c >= '0' && c <= '9') {
      if (++digits > (field == 0 ? 4u : 2u)) return std::nullopt;
      v[field] = v[field] * 10 + (c - '0');
      continue;
    }
    if (digits == 0) return std::nullopt;
    static constexpr char kSeparators[] = "--T::";  // after year, month, day, hour, minute
    bool date_sep = field < 2 && (c == '-' || c == '/');
    bool day_sep = field == 2 && (c == ' ' || c == 'T');
    bool time_sep = (field == 3 || field == 4) && c == kSeparators[field];
    if (c == '\0') break;
    if (!date_sep && !day_sep && !time_sep) return std::nullopt;
    ++field;
    digits = 0;
  }
  if (field < 4) return std::nullopt;  // a date without a time of day
  auto [year, month, day, hour, minute, second] = v;
  if (year < 1970 || month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 ||
      second > 59) {
    return std::nullopt;
  }
  static constexpr int kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (day > kMonthDays[month - 1] || (month == 2 && day == 29 && !leap)) return std::nullopt;
  return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

struct Fields {
  std::string address, port, user, password, type;
  std::optional<std::pair<std::string, std::string>> expiry;  // field name and value
};

// The proxy line of one provider record, or "" when it names no proxy.
std::string LineOf(Fields f) {
  f.address = std::string(Trim(f.address));
  f.port = std::string(Trim(f.port));
  // "ip": "1.2.3.4:8080" with no port of its own.
  size_t colon = f.address.find(':');
  if (f.port.empty() && colon != std::string::npos &&
      f.address.find(':', colon + 1) == std::string::npos) {
    f.port = f.address.substr(colon + 1);
    f.address.resize(colon);
  }
  if (f.address.empty() || !AllDigits(f.port)) return {};
  std::string line = f.user.empty()
                         ? FullLineText(f.address, f.port, f.type, "")
                         : CredentialLineText(f.address, f.port, f.type, f.user, f.password, "");
  ProxyLine parsed;
  return ParseProxyLine(line, &parsed) ? line : std::string();
}

class Collector {
 public:
  explicit Collector(AnswerTime now) : now_(now) {}

  void Add(std::string line, const std::optional<std::pair<std::string, std::string>>& expiry) {
    std::optional<int64_t> expires;
    if (expiry) {
      int64_t at = 0;
      if (ReadExpiry(expiry->first, expiry->second, now_, &at) == ExpiryRead::kOk) {
        expires = at;
      } else {
        ++answer_.bad_expiry;
      }
    }
    auto [it, added] = index_.try_emplace(line, answer_.entries.size());
    if (!added) {
      // The latest expiry wins; a copy without one never expires.
      std::optional<int64_t>& held = answer_.entries[it->second].expires;
      if (held && (!expires || *expires > *held)) held = expires;
      return;
    }
    ProxyLine parsed;
    if (ParseProxyLine(line, &parsed) && parsed.has_credentials()) ++answer_.with_login;
    answer_.entries.push_back(ProviderEntry{std::move(line), expires});
  }

  void AddFields(const Fields& f) {
    std::string line = LineOf(f);
    if (!line.empty()) Add(std::move(line), f.expiry);
  }

  // Proxies written inside a text ("1.2.3.4:8080", "socks5://…").
  void AddFoundIn(std::string_view text) {
    for (std::string& line : ExtractProxyLines(text).lines) Add(std::move(line), std::nullopt);
  }

  ProviderAnswer& answer() { return answer_; }

 private:
  AnswerTime now_;
  ProviderAnswer answer_;
  std::unordered_map<std::string, size_t> index_;
};

std::string ScalarText(const JsonValue& v) {
  return v.kind == JsonValue::Kind::kString || v.kind == JsonValue::Kind::kNumber ? v.text
                                                                                  : std::string();
}

void WalkJson(const JsonValue& v, Collector& out) {
  if (v.kind == JsonValue::Kind::kString) {
    out.AddFoundIn(v.text);
    return;
  }
  if (v.kind == JsonValue::Kind::kArray) {
    for (const JsonValue& item : v.items) WalkJson(item, out);
    return;
  }
  if (v.kind != JsonValue::Kind::kObject) return;
  Fields f;
  bool record = false;
  for (const JsonMember& m : v.members) {
    std::string text = ScalarText(m.second);
    if (IsOneOf(m.first, kAddressFields) && f.address.empty()) {
      f.address = text;
      record = true;
    } else if (IsOneOf(m.first, kPortFields)) {
      f.port = text;
    } else if (IsOneOf(m.first, kUserFields)) {
      f.user = text;
    } else if (IsOneOf(m.first, kPasswordFields)) {
      f.password = text;
    } else if (IsOneOf(m.first, kTypeFields)) {
      f.type = std::string(TypeOfScheme(Trim(text)));
    } else if (IsOneOf(m.first, kExpiryColumnNames)) {
      if (!f.expiry) f.expiry.emplace(AsciiLowerCopy(Trim(m.first)), text);
    } else if (!IsOneOf(m.first, kMessageFields)) {
      // A provider's own words may name an address ("1.2.3.4 不在白名单"):
      // never a proxy.
      WalkJson(m.second, out);
    }
  }
  if (record) out.AddFields(f);
}

std::string_view SkipBom(std::string_view body) {
  if (body.substr(0, 3) == "\xEF\xBB\xBF") body.remove_prefix(3);
  return body;
}

// The line of `text` at `*pos` without its blanks, and *pos moved past it;
// false at the end of the text.
bool NextLine(std::string_view text, size_t* pos, std::string_view* line) {
  if (*pos >= text.size()) return false;
  size_t end = std::min(text.find('\n', *pos), text.size());
  *line = Trim(text.substr(*pos, end - *pos));
  *pos = end + 1;
  return true;
}

// The first non-blank line.
std::string_view FirstLine(std::string_view text) {
  size_t pos = 0;
  std::string_view line;
  while (NextLine(text, &pos, &line)) {
    if (!line.empty()) return line;
  }
  return {};
}

bool LooksLikeMarkup(std::string_view text) {
  std::string head = AsciiLowerCopy(text.substr(0, 4096));
  return head.find("<html") != std::string::npos || head.find("<!doctype") != std::string::npos ||
         head.find("<body") != std::string::npos || head.find("<script") != std::string::npos;
}

// Plain lines as the list-file import takes them: each line a proxy line when
// the text begins like a list, else the proxies found anywhere in it.
void ReadPlain(std::string_view text, std::string_view first, Collector& out) {
  if (!(first[0] >= '0' && first[0] <= '9') && !IsProxyUrlLine(first)) {
    out.AddFoundIn(text);
    return;
  }
  size_t pos = 0;
  std::string_view line;
  while (NextLine(text, &pos, &line)) {
    ProxyLine parsed;
    if (!line.empty() && ParseProxyLine(line, &parsed)) out.Add(std::string(line), std::nullopt);
  }
}

}  // namespace

ExpiryRead ReadExpiry(std::string_view field, std::string_view value, AnswerTime now,
                      int64_t* unix) {
  value = Trim(value);
  std::string_view whole = value.substr(0, value.find('.'));  // "1700000000.25"
  int64_t at = 0;
  if (AllDigits(whole) && whole.size() <= 15 &&
      (whole.size() == value.size() || AllDigits(value.substr(whole.size() + 1)))) {
    int64_t n = 0;
    for (char c : whole) n = n * 10 + (c - '0');
    if (EqualsIgnoreAsciiCase(field, "ttl") || n < 1'000'000'000) {
      at = now.now_unix + n;
    } else {
      at = n < 1'000'000'000'000 ? n : n / 1000;
    }
  } else if (std::optional<int64_t> local = ReadLocalTime(value)) {
    at = *local - now.utc_offset_seconds;
  } else {
    return ExpiryRead::kBad;
  }
  if (at <= now.now_unix || at - now.now_unix > kMaxExpiryAheadSeconds) return ExpiryRead::kBad;
  *unix = at;
  return ExpiryRead::kOk;
}

bool IsStructuredAnswer(std::string_view body) {
  std::string_view first = FirstLine(SkipBom(body));
  return !first.empty() && (first[0] == '{' || first[0] == '[' || IsProxyTableHeader(first));
}

ProviderAnswer ParseProviderAnswer(std::string_view body, AnswerTime now) {
  body = SkipBom(body);
  Collector out(now);
  std::string_view first = FirstLine(body);
  if (first.empty()) {
    out.answer().message = "服务器返回的内容是空的";
    return std::move(out.answer());
  }
  std::string error;
  if (first[0] == '{' || first[0] == '[') {
    std::string why;
    if (std::optional<JsonValue> root = ParseJson(body, &why)) {
      WalkJson(*root, out);
      if (out.answer().entries.empty()) error = ProviderErrorText(body);
    } else {
      out.AddFoundIn(body);  // broken off, or JSON only in looks
    }
  } else if (IsProxyTableHeader(first)) {
    if (std::optional<std::vector<ProxyTableRow>> rows = ReadProxyTableRows(body)) {
      for (ProxyTableRow& row : *rows) {
        std::optional<std::pair<std::string, std::string>> expiry;
        if (!row.expiry.empty()) expiry.emplace(row.expiry_column, row.expiry);
        out.Add(std::move(row.line), expiry);
      }
    }
  } else {
    ReadPlain(body, first, out);
  }

  ProviderAnswer& answer = out.answer();
  if (!answer.entries.empty()) {
    answer.kind = ProviderAnswer::Kind::kList;
  } else if (!error.empty()) {
    answer.kind = ProviderAnswer::Kind::kProviderError;
    answer.message = "服务商返回错误：" + error;
  } else {
    answer.kind = ProviderAnswer::Kind::kNotAList;
    answer.message = LooksLikeMarkup(body) ? "服务器返回的是网页（可能是验证页面），不是代理列表"
                                           : "返回的内容不是代理列表";
  }
  return std::move(answer);
}

std::string ListBodyProblem(std::string_view body) {
  constexpr size_t kPlainLook = 64 * 1024;
  if (!IsStructuredAnswer(body) && body.size() > kPlainLook) {
    size_t cut = body.rfind('\n', kPlainLook);
    body = body.substr(0, cut == std::string_view::npos ? kPlainLook : cut + 1);
  }
  ProviderAnswer answer = ParseProviderAnswer(body, AnswerTime{});
  return answer.kind == ProviderAnswer::Kind::kList ? std::string() : answer.message;
}

}  // namespace core
