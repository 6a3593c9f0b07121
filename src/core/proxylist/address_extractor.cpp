#include "core/proxylist/address_extractor.h"

#include <cstdint>
#include <random>
#include <set>
#include <unordered_set>
#include <utility>

#include "core/base/codepage.h"
#include "core/base/text.h"
#include "core/net/net_target.h"
#include "core/proxylist/markup_flattener.h"
#include "core/proxylist/proxy_line.h"

namespace core {
namespace {

constexpr char kCellMark = kMarkupCell;
constexpr char kRowMark = kMarkupRow;
constexpr char kTableMark = kMarkupTable;

constexpr bool IsMark(char c) { return c == kCellMark || c == kRowMark || c == kTableMark; }
constexpr bool IsBlank(char c) { return c == ' ' || c == '\t'; }
// The flattened text has no CR, VT or FF: they became line feeds.
constexpr bool IsWhite(char c) { return c == ' ' || c == '\t' || c == '\n'; }

enum ProxyKind : uint8_t {
  kNoType,
  kHttp,
  kHttps,
  kSocks,
  kSocks4,
  kSocks5,
  kFtp,
  kGopher,
  kSocks4a
};
constexpr std::string_view kKindNames[] = {"",       "HTTP", "HTTPS",  "SOCKS",  "SOCKS4",
                                           "SOCKS5", "FTP",  "GOPHER", "SOCKS4A"};

// A URL scheme or a protocol word of a table cell or JSON value. "socks" names
// no version; the program's own SOCKS type means exactly that.
ProxyKind KindOfWord(std::string_view w) {
  if (w.size() > 8) return kNoType;
  char lower[8];
  for (size_t i = 0; i < w.size(); ++i) lower[i] = AsciiLower(w[i]);
  std::string_view l(lower, w.size());
  if (l == "http") return kHttp;
  if (l == "https") return kHttps;
  if (l == "socks") return kSocks;
  if (l == "socks4") return kSocks4;
  if (l == "socks4a") return kSocks4a;
  if (l == "socks5" || l == "socks5h") return kSocks5;
  return kNoType;
}

// The type word of the program's own "@TYPE" suffix: every name the list knows.
ProxyKind KindOfSuffix(std::string_view w) {
  std::string upper = AsciiUpperCopy(w);
  for (uint8_t k = kHttp; k <= kSocks4a; ++k) {
    if (upper == kKindNames[k]) return ProxyKind(k);
  }
  return kNoType;
}

// A dotted quad at p: four parts 0..255, no leading zeros (a zero-padded part is
// octal to some programs and a different address to others).
bool ReadIpv4(std::string_view s, size_t p, size_t* end, uint32_t* ip) {
  uint32_t value = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (p >= s.size() || s[p] != '.') return false;
      ++p;
    }
    size_t q = p;
    uint32_t v = 0;
    while (q < s.size() && IsDigit(s[q]) && q - p < 4) v = v * 10 + uint32_t(s[q++] - '0');
    size_t len = q - p;
    if (len == 0 || len > 3 || v > 255 || (len > 1 && s[p] == '0')) return false;
    value = value << 8 | v;
    p = q;
  }
  *end = p;
  *ip = value;
  return true;
}

// A port at p: 1 to 5 digits, 1..65535.
bool ReadPort(std::string_view s, size_t p, size_t* end, uint16_t* port) {
  size_t q = p;
  uint32_t v = 0;
  while (q < s.size() && IsDigit(s[q]) && q - p < 6) v = v * 10 + uint32_t(s[q++] - '0');
  if (q == p || q - p > 5 || v < 1 || v > 65535) return false;
  *end = q;
  *port = uint16_t(v);
  return true;
}

// True when nothing glues onto the number that ends before p: no letter or
// digit, and no '.', '-', '/' (or, after a port, ':') that leads into more
// digits (1.2.3.4.5, 10.0.0.0/8, a port range 80-90, 1.2.3.4:80:90).
bool TokenEndsAt(std::string_view s, size_t p, bool colon_joins) {
  if (p >= s.size()) return true;
  char c = s[p];
  if (IsAsciiAlnum(c) || c == '_') return false;
  bool joiner = c == '.' || c == '-' || c == '/' || (colon_joins && c == ':');
  return !(joiner && p + 1 < s.size() && IsDigit(s[p + 1]));
}

size_t SkipBlanks(std::string_view s, size_t p) {
  while (p < s.size() && IsBlank(s[p])) ++p;
  return p;
}

size_t SkipWhite(std::string_view s, size_t p) {
  while (p < s.size() && IsWhite(s[p])) ++p;
  return p;
}

// Characters that end a URL written in running text.
bool EndsUrl(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  if (u <= 0x20 || u >= 0x7F) return true;  // white space, marks, other scripts
  return std::string_view("\"'<>`{}|\\^,;[]()").find(c) != std::string_view::npos;
}

// A run of at most `limit` characters from p that are not white, marks or
// `stop`; returns its end.
size_t RunUntil(std::string_view s, size_t p, char stop, size_t limit) {
  size_t q = p;
  while (q < s.size() && q - p < limit && !IsWhite(s[q]) && !IsMark(s[q]) && s[q] != stop) ++q;
  return q;
}

constexpr size_t kJsonReach = 512;  // how far a JSON object is looked for around an address
constexpr size_t kMaxCells = 64;    // table columns that can give a remark or a type
constexpr size_t kMaxRemark = 64;   // bytes; a longer country cell is not a country

std::string CollapsedCellText(std::string_view raw) {
  std::string out;
  if (raw.size() > 4 * kMaxRemark) return out;
  for (char c : raw) {
    if (IsWhite(c)) {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += c;
    }
  }
  if (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

bool ContainsNoCase(std::string_view hay, std::string_view lower_needle) {
  for (size_t i = 0; i + lower_needle.size() <= hay.size(); ++i) {
    if (StartsWithIgnoreAsciiCase(hay, lower_needle, i)) return true;
  }
  return false;
}

bool IsCountryHeading(std::string_view h) {
  if (ContainsNoCase(h, "code")) return false;  // "CN" beside the country name
  for (std::string_view k : {"country", "location", "国家", "地区", "位置", "归属地", "所在地"}) {
    if (ContainsNoCase(h, k)) return true;
  }
  return false;
}

bool IsTypeHeading(std::string_view h) {
  if (ContainsNoCase(h, "anonym") || ContainsNoCase(h, "匿名")) return false;
  for (std::string_view k : {"type", "protocol", "类型", "协议"}) {
    if (ContainsNoCase(h, k)) return true;
  }
  return false;
}

// A country cell's text as a remark, or "" when it does not look like one.
// "<" and ">" are refused so that no page can make an entry reserved.
std::string RemarkOfCell(std::string text) {
  if (text.empty() || text.size() > kMaxRemark || !IsValidUtf8(text)) return {};
  bool letter = false;
  for (char c : text) {
    if (c == '<' || c == '>') return {};
    letter = letter || IsAsciiAlpha(c) || static_cast<unsigned char>(c) >= 0x80;
  }
  if (!letter) return {};
  for (std::string_view none : {"unknown", "n/a", "na", "none", "null", "未知"}) {
    if (EqualsIgnoreAsciiCase(text, none)) return {};
  }
  return text;
}

// Writes `v` (at most 5 digits) in decimal at `out`; returns the length.
size_t WriteDecimal(uint32_t v, char* out) {
  char digits[5];
  size_t n = 0;
  do {
    digits[n++] = char('0' + v % 10);
    v /= 10;
  } while (v != 0 && n < sizeof digits);
  for (size_t i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
  return n;
}

// A seed chosen once per process, so that no page can know where its keys land.
uint64_t ProcessSeed() {
  static const uint64_t seed = [] {
    std::random_device device;
    uint64_t bits = (uint64_t(device()) << 32) ^ device();
    // Where the stack lies varies between runs too, should the device be weak.
    int local = 0;
    return bits ^ uint64_t(reinterpret_cast<uintptr_t>(&local));
  }();
  return seed;
}

// Every key bit moves every hash bit (the splitmix64 finalizer), over the key
// mixed with the seed: keys that differ only in a few high bits, as addresses
// that differ only in their first octets do, spread over the whole table.
struct SeededHash {
  size_t operator()(uint64_t key) const {
    uint64_t z = key + ProcessSeed() + 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return size_t(z ^ (z >> 31));
  }
};

// A set of nonzero keys with open addressing: a list of a few hundred thousand
// entries is deduplicated without an allocation per entry.
class KeySet {
 public:
  explicit KeySet(size_t expected) {
    size_t capacity = 16;
    while (capacity < expected * 2) capacity *= 2;
    slots_.assign(capacity, 0);
  }
  // Returns false when the key was already there.
  bool Insert(uint64_t key) {
    size_t mask = slots_.size() - 1;
    for (size_t i = SeededHash()(key) & mask;; i = (i + 1) & mask) {
      if (slots_[i] == key) return false;
      if (slots_[i] == 0) {
        slots_[i] = key;
        return true;
      }
    }
  }

 private:
  std::vector<uint64_t> slots_;
};

struct Found {
  uint32_t ip;
  uint16_t port;
  ProxyKind kind;
  std::string remark;
  uint32_t login = 0;  // 0, or 1 + the index of its user name and password
};

// The longest user name or password taken from running text; a longer run is
// not a log-in anyone wrote.
constexpr size_t kMaxLoginText = 128;

// What a JSON object around an address says: its "port" member and the
// protocol, and how many members hold an address (more than one: ambiguous).
struct JsonFacts {
  uint16_t port = 0;
  ProxyKind kind = kNoType;
  int addresses = 0;
  // A provider's log-in members ("user"/"username", "pass"/"password"), as
  // written (strings with escapes are passed over).
  std::string_view user, password;
};

class Scanner {
 public:
  explicit Scanner(std::string_view s) : s_(s) {}

  void Run() {
    size_t p = 0;
    const size_t n = s_.size();
    while (p < n) {
      char c = s_[p];
      if (IsDigit(c)) {
        p = Address(p);
      } else if (c == ':' && p + 2 < n && s_[p + 1] == '/' && s_[p + 2] == '/') {
        p = Url(p);
      } else if (c == kCellMark) {
        ++cell_;
        if (cell_starts_.size() <= kMaxCells) cell_starts_.push_back(p + 1);
        ++p;
      } else if (c == kRowMark || c == kTableMark) {
        FinishRow(p);
        if (c == kTableMark) country_col_ = type_col_ = kColumnUnknown;
        ++p;
      } else {
        ++p;
      }
    }
    FinishRow(n);
  }

  ExtractedProxies Result() const {
    ExtractedProxies r;
    KeySet seen(found_.size());
    // Entries with a log-in differ by their user names too, and by the type
    // their line names (an untyped log-in may have to be written as http).
    std::set<std::string> seen_logins;
    r.lines.reserve(found_.size());
    for (const Found& f : found_) {
      uint64_t key = uint64_t(f.ip) << 24 | uint64_t(f.port) << 8 | f.kind;
      const ProxyCredentials* login = f.login != 0 ? &logins_[f.login - 1] : nullptr;
      if (!login && !seen.Insert(key)) continue;
      char address[16];
      char port[8];
      size_t address_len = 0;
      for (int shift = 24; shift >= 0; shift -= 8) {
        if (shift != 24) address[address_len++] = '.';
        address_len += WriteDecimal((f.ip >> shift) & 0xFF, address + address_len);
      }
      size_t port_len = WriteDecimal(f.port, port);
      std::string_view address_text(address, address_len);
      std::string_view port_text(port, port_len);
      if (login) {
        std::string line = CredentialLineText(address_text, port_text, kKindNames[f.kind],
                                              login->user, login->password, f.remark);
        ProxyLine parsed;
        ParseProxyLine(line, &parsed);
        std::string identity = HostPortText(address_text, port_text);
        identity.append("@").append(parsed.type).append("#").append(login->user);
        if (!seen_logins.insert(std::move(identity)).second) continue;
        r.lines.push_back(std::move(line));
        ++r.with_login;
      } else {
        r.lines.push_back(FullLineText(address_text, port_text, kKindNames[f.kind], f.remark));
      }
    }
    return r;
  }

 private:
  static constexpr int kColumnUnknown = -1;    // no heading seen in this table
  static constexpr int kColumnAmbiguous = -2;  // several headings would fit

  struct RowHit {
    size_t found;
    int cell;
    int port_cell;
  };

  void Add(uint32_t ip, uint16_t port, ProxyKind kind, int port_cell, uint32_t login = 0) {
    if (cell_ >= 0) row_hits_.push_back({found_.size(), cell_, port_cell});
    // FTP and GOPHER proxies take no log-in here: the entry comes without it.
    if (kind == kFtp || kind == kGopher) login = 0;
    found_.push_back({ip, port, kind, {}, login});
  }

  // Keeps a user name and password for an entry; 0 when they cannot be sent
  // (an empty user name, control characters, ":" in the user name, a text cut
  // inside a character): the entry is then taken without a log-in.
  uint32_t KeepLogin(std::string_view user, std::string_view password) {
    if (!IsValidUtf8(user) || !IsValidUtf8(password)) return 0;
    ProxyLine check;
    // Every entry here has an IPv4 address; only the texts are in question.
    check.address = "0.0.0.0";
    check.user = std::string(user);
    check.password = std::string(password);
    if (!CheckProxyCredentials(check)) return 0;
    logins_.push_back({std::move(check.user), std::move(check.password)});
    return uint32_t(logins_.size());
  }
  uint32_t KeepLogin(std::string_view user_colon_password) {
    size_t colon = user_colon_password.find(':');
    if (colon == std::string_view::npos) return KeepLogin(user_colon_password, {});
    return KeepLogin(user_colon_password.substr(0, colon), user_colon_password.substr(colon + 1));
  }

  // The "user:pass" that ends at the "@" at `at`: back to a blank, a mark or a
  // character that ends a URL in running text.
  std::string_view LoginBefore(size_t at) const {
    size_t b = at;
    while (b > 0 && at - b < kMaxLoginText && !IsWhite(s_[b - 1]) && !IsMark(s_[b - 1]) &&
           !EndsUrl(s_[b - 1])) {
      --b;
    }
    // A label's colon before it ("账号：user:pass@…") is no part of it.
    while (b < at && s_[b] == ':') ++b;
    return s_.substr(b, at - b);
  }

  // A digit at p: an address when it stands alone and a port goes with it.
  // Returns where scanning goes on.
  size_t Address(size_t p) {
    char before = p > 0 ? s_[p - 1] : ' ';
    if (IsAsciiAlnum(before) || before == '.' || before == '_' || before == '-' || before == '/' ||
        before == '\\') {
      return p + 1;  // inside a word, a number, a path
    }
    size_t e = 0;
    uint32_t ip = 0;
    if (!ReadIpv4(s_, p, &e, &ip) || !TokenEndsAt(s_, e, false)) return p + 1;
    // "user@1.2.3.4:80" and "user:pass@1.2.3.4:80" carry a login.
    bool login = before == '@' && p >= 2 && !IsWhite(s_[p - 2]) && !IsMark(s_[p - 2]);
    if (before == '@' && !login) return e;
    if (login && LoginBefore(p - 1).empty()) return e;

    // "1.2.3.4:8080" and "1.2.3.4 : 8080".
    size_t q = SkipBlanks(s_, e);
    if (q < s_.size() && s_[q] == ':') {
      size_t port_end = 0;
      uint16_t port = 0;
      if (!ReadPort(s_, SkipBlanks(s_, q + 1), &port_end, &port)) return e;
      return AfterPort(p, e, ip, port, port_end, login);
    }
    if (login) return e;

    // An address alone in a table cell with the port alone in the next cell.
    if (cell_ >= 0 && AloneInCellBefore(p)) {
      size_t m = SkipWhite(s_, e);
      if (m < s_.size() && s_[m] == kCellMark) {
        size_t port_end = 0;
        uint16_t port = 0;
        size_t d = SkipWhite(s_, m + 1);
        if (ReadPort(s_, d, &port_end, &port)) {
          size_t after = SkipWhite(s_, port_end);
          if (after == s_.size() || IsMark(s_[after])) {
            Add(ip, port, kNoType, cell_ + 1);
            return e;  // the marks ahead still count the cells
          }
        }
      }
    }

    // "1.2.3.4 8080", "1.2.3.4<TAB>8080", "1.2.3.4 port 8080", "1.2.3.4 端口：8080".
    size_t d = q;
    size_t label = 0;
    if (StartsWithIgnoreAsciiCase(s_, "port", q)) label = 4;
    if (s_.substr(q).starts_with("端口")) label = std::string_view("端口").size();
    if (label != 0) {
      d = SkipBlanks(s_, q + label);
      if (d < s_.size() && (s_[d] == ':' || s_[d] == '=')) d = SkipBlanks(s_, d + 1);
    } else if (q == e) {
      d = s_.size();  // neither blank nor label: no port on this line
    }
    size_t port_end = 0;
    uint16_t port = 0;
    if (ReadPort(s_, d, &port_end, &port) && TokenEndsAt(s_, port_end, true)) {
      Add(ip, port, kNoType, cell_);
      return port_end;
    }

    // {"ip": "1.2.3.4", "port": 8080}
    if (before == '"' && e < s_.size() && s_[e] == '"') {
      JsonFacts j = JsonAround(p - 1, e + 1);
      if (j.port != 0 && j.addresses == 1) Add(ip, j.port, j.kind, cell_, JsonLogin(j));
    }
    return e;
  }

  // The address ip at [p, e) has its port `port` ending at port_end; decides
  // between an entry, a login and nothing from what follows the port.
  size_t AfterPort(size_t p, size_t e, uint32_t ip, uint16_t port, size_t port_end, bool login) {
    size_t n = s_.size();
    if (port_end < n && s_[port_end] == ':' && port_end + 1 < n && !IsDigit(s_[port_end + 1])) {
      // "1.2.3.4:8080:user:pass", perhaps with the program's own "@TYPE" behind.
      size_t user_end = RunUntil(s_, port_end + 1, ':', kMaxLoginText);
      if (user_end > port_end + 1 && user_end < n && s_[user_end] == ':' &&
          RunUntil(s_, user_end + 1, '\0', 1) > user_end + 1) {
        size_t end = RunUntil(s_, user_end + 1, '\0', kMaxLoginText);
        std::string_view password = s_.substr(user_end + 1, end - user_end - 1);
        ProxyKind kind = kNoType;
        if (size_t at = password.rfind('@'); at != std::string_view::npos) {
          kind = KindOfSuffix(password.substr(at + 1));
          if (kind != kNoType) password = password.substr(0, at);
        }
        Add(ip, port, kind, cell_,
            KeepLogin(s_.substr(port_end + 1, user_end - port_end - 1), password));
        return end;
      }
    }
    ProxyKind kind = kNoType;
    size_t next = port_end;
    if (port_end < n && s_[port_end] == '@') {
      // The program's own "@TYPE" suffix, or "1.2.3.4:8080@user:pass".
      size_t w = port_end + 1;
      size_t word_end = w;
      while (word_end < n && word_end - w < 8 && IsAsciiAlnum(s_[word_end])) ++word_end;
      kind = KindOfSuffix(s_.substr(w, word_end - w));
      if (kind != kNoType && TokenEndsAt(s_, word_end, true)) {
        next = word_end;
      } else {
        kind = kNoType;
        // "1.2.3.4:8080@user:pass"
        size_t run = RunUntil(s_, w, ':', kMaxLoginText);
        if (run > w && run < n && s_[run] == ':' && !login) {
          size_t end = RunUntil(s_, run + 1, '\0', kMaxLoginText);
          Add(ip, port, kNoType, cell_, KeepLogin(s_.substr(w, end - w)));
          return end;
        }
      }
    } else if (!TokenEndsAt(s_, port_end, true)) {
      return e;
    }
    if (login) {
      Add(ip, port, kind, cell_, KeepLogin(LoginBefore(p - 1)));
      return next;
    }
    if (kind == kNoType && p > 0 && s_[p - 1] == '"') {
      // {"proxy": "1.2.3.4:8080", "protocol": "socks5", "user": "u", "pass": "p"}
      JsonFacts j = JsonAround(p - 1, port_end);
      if (j.addresses == 1) {
        Add(ip, port, j.kind, cell_, JsonLogin(j));
        return next;
      }
    }
    Add(ip, port, kind, cell_);
    return next;
  }

  // True when only white space lies between the start of the current cell and p.
  bool AloneInCellBefore(size_t p) const {
    size_t q = p;
    while (q > 0 && IsWhite(s_[q - 1])) --q;
    return q > 0 && s_[q - 1] == kCellMark;
  }

  // "scheme://" with its ':' at p: an entry when the host is an address with a
  // port and the scheme is a proxy protocol. The rest of the URL (path, query)
  // is skipped, so addresses there are never taken.
  size_t Url(size_t p) {
    size_t b = p;
    while (b > 0 && p - b < 10 &&
           (IsAsciiAlnum(s_[b - 1]) || s_[b - 1] == '+' || s_[b - 1] == '-' || s_[b - 1] == '.')) {
      --b;
    }
    ProxyKind kind = KindOfWord(s_.substr(b, p - b));
    size_t host = p + 3;
    size_t authority_end = host;
    size_t at = std::string_view::npos;
    while (authority_end < s_.size() && !EndsUrl(s_[authority_end]) && s_[authority_end] != '/' &&
           s_[authority_end] != '?' && s_[authority_end] != '#') {
      if (s_[authority_end] == '@') at = authority_end;
      ++authority_end;
    }
    size_t url_end = authority_end;
    while (url_end < s_.size() && !EndsUrl(s_[url_end])) ++url_end;

    size_t addr = at == std::string_view::npos ? host : at + 1;
    size_t e = 0;
    uint32_t ip = 0;
    size_t port_end = 0;
    uint16_t port = 0;
    if (kind != kNoType && ReadIpv4(s_, addr, &e, &ip) && e < s_.size() && s_[e] == ':' &&
        ReadPort(s_, e + 1, &port_end, &port) && port_end == authority_end) {
      uint32_t login = 0;
      if (at != std::string_view::npos) {
        // The user name and password of a URL come percent-escaped.
        std::string_view userinfo = s_.substr(host, at - host);
        size_t colon = userinfo.find(':');
        std::string user, password;
        if (!PercentDecode(userinfo.substr(0, colon), &user) ||
            (colon != std::string_view::npos &&
             !PercentDecode(userinfo.substr(colon + 1), &password))) {
          return url_end;
        }
        login = KeepLogin(user, password);
      }
      Add(ip, port, kind, cell_, login);
    }
    return url_end;
  }

  // The JSON object around a string that opens at `open` (its quote) and ends
  // before `close` (its closing quote): the '{' before it and the '}' after it at
  // the same depth, each within reach.
  JsonFacts JsonAround(size_t open, size_t close) const {
    JsonFacts facts;
    size_t ob = open;
    int depth = 0;
    for (;;) {
      if (ob == 0 || open - ob >= kJsonReach || IsMark(s_[ob - 1])) return facts;
      char c = s_[--ob];
      if (c == '}' || c == ']') ++depth;
      if (c == '{' || c == '[') {
        if (depth == 0) break;
        --depth;
      }
    }
    if (s_[ob] != '{') return facts;
    size_t oe = close;
    depth = 0;
    for (;;) {
      if (oe >= s_.size() || oe - close >= kJsonReach || IsMark(s_[oe])) return facts;
      char c = s_[oe];
      if (c == '{' || c == '[') ++depth;
      if (c == '}' || c == ']') {
        if (depth == 0) break;
        --depth;
      }
      ++oe;
    }
    if (s_[oe] != '}') return facts;

    // The members of this object (not of nested ones): "key": value.
    depth = 0;
    size_t q = ob + 1;
    while (q < oe) {
      char c = s_[q];
      if (c == '{' || c == '[') ++depth;
      if (c == '}' || c == ']') --depth;
      if (c != '"') {
        ++q;
        continue;
      }
      size_t str_end = StringEnd(q, oe);
      if (str_end >= oe) break;
      std::string_view str = s_.substr(q + 1, str_end - q - 1);
      size_t v = SkipWhite(s_, str_end + 1);
      q = str_end + 1;
      if (depth != 0) continue;
      if (v < oe && s_[v] == ':') {
        Member(str, SkipWhite(s_, v + 1), oe, &facts);
      } else {
        size_t e = 0;
        uint32_t ip = 0;
        if (ReadIpv4(str, 0, &e, &ip) && (e == str.size() || str[e] == ':')) ++facts.addresses;
      }
    }
    return facts;
  }

  // The closing quote of the JSON string whose opening quote is at q (or `limit`).
  size_t StringEnd(size_t q, size_t limit) const {
    ++q;
    while (q < limit && s_[q] != '"') q += s_[q] == '\\' ? 2 : 1;
    return q < limit ? q : limit;
  }

  uint32_t JsonLogin(const JsonFacts& j) {
    return j.user.empty() || j.password.empty() ? 0 : KeepLogin(j.user, j.password);
  }

  void Member(std::string_view key, size_t v, size_t limit, JsonFacts* facts) const {
    if (v >= limit) return;
    bool user = false, password = false;
    for (std::string_view k : {"user", "username", "user_name", "login"}) {
      user = user || EqualsIgnoreAsciiCase(key, k);
    }
    for (std::string_view k : {"pass", "password", "passwd", "pwd"}) {
      password = password || EqualsIgnoreAsciiCase(key, k);
    }
    if (user || password) {
      if (s_[v] != '"') return;
      size_t str_end = StringEnd(v, limit);
      if (str_end >= limit) return;
      std::string_view text = s_.substr(v + 1, str_end - v - 1);
      if (text.find('\\') != std::string_view::npos) return;
      (user ? facts->user : facts->password) = text;
      return;
    }
    if (EqualsIgnoreAsciiCase(key, "port")) {
      size_t d = s_[v] == '"' ? v + 1 : v;
      size_t end = 0;
      uint16_t port = 0;
      if (!ReadPort(s_, d, &end, &port)) return;
      // The member ends at its quote, or (unquoted) at a comma, blank or the brace.
      bool closed = s_[v] == '"' ? end < limit && s_[end] == '"' : end <= limit && s_[end] != '.';
      if (closed) facts->port = port;
      return;
    }
    bool protocol = false;
    for (std::string_view k : {"protocol", "protocols", "type", "scheme", "proxy_type"}) {
      protocol = protocol || EqualsIgnoreAsciiCase(key, k);
    }
    if (!protocol) return;
    // "socks5" or ["socks5"]; a list of several protocols names none.
    bool list = s_[v] == '[';
    size_t str = list ? SkipWhite(s_, v + 1) : v;
    if (str >= limit || s_[str] != '"') return;
    size_t str_end = StringEnd(str, limit);
    if (str_end >= limit) return;
    if (list) {
      size_t after = SkipWhite(s_, str_end + 1);
      if (after >= limit || s_[after] != ']') return;
    }
    facts->kind = KindOfWord(s_.substr(str + 1, str_end - str - 1));
  }

  std::string CellText(size_t k, size_t row_end) const {
    size_t begin = cell_starts_[k];
    size_t end = k + 1 < cell_starts_.size() ? cell_starts_[k + 1] - 1 : row_end;
    return CollapsedCellText(s_.substr(begin, end - begin));
  }

  // The end of a table row at row_end: a heading row sets the country and type
  // columns of the table; a row with exactly one entry takes its type and
  // remark from those columns.
  void FinishRow(size_t row_end) {
    size_t cells = std::min(cell_starts_.size(), kMaxCells);
    if (row_hits_.empty() && cells >= 2) {
      int country = kColumnUnknown;
      int type = kColumnUnknown;
      for (size_t k = 0; k < cells; ++k) {
        std::string h = CellText(k, row_end);
        if (h.empty() || h.size() > 32) continue;
        if (IsCountryHeading(h)) country = country == kColumnUnknown ? int(k) : kColumnAmbiguous;
        if (IsTypeHeading(h)) type = type == kColumnUnknown ? int(k) : kColumnAmbiguous;
      }
      if (country != kColumnUnknown || type != kColumnUnknown) {
        country_col_ = country;
        type_col_ = type;
      }
    } else if (row_hits_.size() == 1) {
      const RowHit& hit = row_hits_.front();
      Found& f = found_[hit.found];
      auto other = [&](int k) { return k != hit.cell && k != hit.port_cell; };
      if (f.kind == kNoType && type_col_ >= 0 && size_t(type_col_) < cells && other(type_col_)) {
        f.kind = KindOfWord(CellText(size_t(type_col_), row_end));
      } else if (f.kind == kNoType && type_col_ == kColumnUnknown) {
        // No heading: a type when exactly one other cell is a protocol word.
        int typed = 0;
        ProxyKind kind = kNoType;
        for (size_t k = 0; k < cells; ++k) {
          if (!other(int(k))) continue;
          ProxyKind cell_kind = KindOfWord(CellText(k, row_end));
          if (cell_kind != kNoType) {
            ++typed;
            kind = cell_kind;
          }
        }
        if (typed == 1) f.kind = kind;
      }
      if (country_col_ >= 0 && size_t(country_col_) < cells && other(country_col_)) {
        f.remark = RemarkOfCell(CellText(size_t(country_col_), row_end));
      }
    }
    cell_ = -1;
    cell_starts_.clear();
    row_hits_.clear();
  }

  std::string_view s_;
  std::vector<Found> found_;
  std::vector<ProxyCredentials> logins_;
  int cell_ = -1;  // index of the current cell in its row, -1 outside cells
  std::vector<size_t> cell_starts_;
  std::vector<RowHit> row_hits_;
  int country_col_ = kColumnUnknown;
  int type_col_ = kColumnUnknown;
};

}  // namespace

ExtractedProxies ExtractProxyLines(std::string_view text) {
  std::string flat = FlattenMarkup(text);
  Scanner scanner(flat);
  scanner.Run();
  return scanner.Result();
}

}  // namespace core
