// Provider answers: what a proxy provider's link gives back, read into proxy
// lines with their expiry. A link answers with plain lines, with JSON (proxies
// as objects with an address and a port, at any depth, perhaps with a log-in
// and an expiry), with CSV/TSV under a header that names its columns, or with
// an error of its own ({"code":121,"msg":"余额不足"}). Pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace core {

// The moment an answer is read: Unix seconds, and how far local time is ahead
// of UTC (a provider's "YYYY-MM-DD HH:MM:SS" is the user's local time).
struct AnswerTime {
  int64_t now_unix = 0;
  int32_t utc_offset_seconds = 0;
};

// An expiry further away than this is no provider's short-lived proxy: it is
// taken for a mistake and ignored.
inline constexpr int64_t kMaxExpiryAheadSeconds = 24 * 3600;

enum class ExpiryRead {
  kOk,   // *unix holds the moment the proxy expires
  kBad,  // malformed, already past, or more than kMaxExpiryAheadSeconds ahead
};

// Reads an expiry value of the field `field` (one of kExpiryColumnNames). "ttl" is
// always seconds from now; the others are seconds from now when below
// 1 000 000 000, Unix seconds up to 10^12, Unix milliseconds above, or local
// time "YYYY-MM-DD HH:MM:SS" ("/" or "T" allowed, the seconds optional).
ExpiryRead ReadExpiry(std::string_view field, std::string_view value, AnswerTime now,
                      int64_t* unix);

struct ProviderEntry {
  std::string line;                // a proxy line ParseProxyLine takes
  std::optional<int64_t> expires;  // Unix seconds; none: it does not expire
};

struct ProviderAnswer {
  enum class Kind {
    kList,           // entries holds at least one proxy
    kProviderError,  // the provider answered with an error: message says what
    kNotAList,       // no proxy in it (a web page, a captcha): message says what it is
    kEmpty,          // nothing but blanks
  };
  Kind kind = Kind::kEmpty;
  // In order of first appearance; one entry per line text, with the latest
  // expiry any of its copies gave.
  std::vector<ProviderEntry> entries;
  std::string message;  // the user's words for kProviderError, kNotAList and kEmpty
  int with_login = 0;   // entries with a user name and password
  // Entries whose expiry was malformed, past or too far ahead: kept without one.
  int bad_expiry = 0;
};

// Reads a whole answer (UTF-8). Linear in its size.
ProviderAnswer ParseProviderAnswer(std::string_view body, AnswerTime now);

// What a download's check says of a body: "" when it holds proxies (the
// import takes it), else why not: empty, a web page, no proxies, or the
// provider's own error. A plain list is judged by its first 64 KB.
std::string ListBodyProblem(std::string_view body);

// Whether `body` is JSON or a CSV/TSV table with a header: an answer the
// list-file import cannot read, which ParseProviderAnswer reads instead.
bool IsStructuredAnswer(std::string_view body);

}  // namespace core
