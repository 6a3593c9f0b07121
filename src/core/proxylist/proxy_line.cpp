#include "core/proxylist/proxy_line.h"

#include "core/base/text.h"
#include "core/net/net_target.h"

namespace core {
namespace {

// Every letter that can appear in a type name; the type word after "@" is the
// longest run of these, so "HTTP/1.1" and "Socks5 anonymous" give HTTP and SOCKS5.
// "SOCKS4A" is the one name with an "A": it is read only right after "SOCKS4".
constexpr std::string_view kTypeLetters = "HTPSFGOERCK45";

constexpr std::string_view kAcceptedTypes[] = {"HTTP",   "HTTPS",  "FTP",   "GOPHER",
                                               "SOCKS4", "SOCKS5", "SOCKS", "SOCKS4A"};

constexpr std::string_view kKindTable[] = {"",       "HTTP",   "HTTPS", "SOCKS",
                                           "SOCKS4", "SOCKS5", "FTP",   "SOCKS4A"};

}  // namespace

// A remark is stored with its row in the profile, whose values have a length
// limit; a longer one would make the row vanish from the saved list.
std::string_view CapRemark(std::string_view remark) {
  std::string_view kept = Utf8Prefix(remark, kMaxRemarkChars);
  return kept.size() == remark.size() ? remark : Trim(kept);
}

// "https" is the list's HTTPS type: a proxy spoken to in plain HTTP
// that takes https sites (no TLS to the proxy itself), as a row of that type is
// written back in this form.
std::string_view TypeOfScheme(std::string_view scheme) {
  std::string lower(scheme);
  for (char& c : lower) c = AsciiLower(c);
  if (lower == "http") return "HTTP";
  if (lower == "https") return "HTTPS";
  if (lower == "socks") return "SOCKS";
  if (lower == "socks4") return "SOCKS4";
  if (lower == "socks4a") return "SOCKS4A";
  if (lower == "socks5" || lower == "socks5h") return "SOCKS5";
  return {};
}

namespace {

bool IsAcceptedType(std::string_view type) {
  for (std::string_view name : kAcceptedTypes) {
    if (type == name) return true;
  }
  return false;
}

// The type word at the start of `text` (after "@"): the run of type letters, upper-cased.
std::string TypeWord(std::string_view text) {
  std::string t = AsciiUpperCopy(TrimLeft(text));
  std::string word(LeadingRun(t, kTypeLetters));
  if (word == "SOCKS4" && t.size() > word.size() && t[word.size()] == 'A') word += 'A';
  return word;
}

// The length of a URL scheme followed by "://" at the start of `s`, or 0.
size_t SchemeLength(std::string_view s) {
  if (s.empty() || !IsAsciiAlpha(s[0])) return 0;
  size_t i = 1;
  while (i < s.size() && (IsAsciiAlnum(s[i]) || s[i] == '+' || s[i] == '-' || s[i] == '.')) ++i;
  return s.substr(i).starts_with("://") ? i : 0;
}

int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  char u = AsciiUpper(c);
  return u >= 'A' && u <= 'F' ? u - 'A' + 10 : -1;
}

}  // namespace

bool PercentDecode(std::string_view in, std::string* out) {
  out->clear();
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '%') {
      *out += in[i];
      continue;
    }
    int hi = i + 2 < in.size() ? HexValue(in[i + 1]) : -1;
    int lo = i + 2 < in.size() ? HexValue(in[i + 2]) : -1;
    if (hi < 0 || lo < 0) return false;
    *out += char(hi * 16 + lo);
    i += 2;
  }
  return true;
}

namespace {

void PercentEncode(std::string_view in, std::string* out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (char c : in) {
    if (IsAsciiAlnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      *out += c;
    } else {
      unsigned char u = static_cast<unsigned char>(c);
      *out += '%';
      *out += kHex[u >> 4];
      *out += kHex[u & 15];
    }
  }
}

bool Refuse(std::string* why, std::string_view reason) {
  if (why) *why = std::string(reason);
  return false;
}

// Whether a user name and password can be sent: a NUL would end them early in
// the protocols, a line break would split the Basic header or the saved line.
bool CheckCredentials(const ProxyLine& p, std::string* why) {
  if (p.user.empty()) return Refuse(why, "用户名为空");
  if (p.user.find(':') != std::string::npos) return Refuse(why, "用户名中不能有冒号");
  if (p.user.size() > kMaxCredentialBytes || p.password.size() > kMaxCredentialBytes) {
    return Refuse(why, Format("用户名或密码太长（最多%d字节）", int(kMaxCredentialBytes)));
  }
  for (std::string_view text : {std::string_view(p.user), std::string_view(p.password)}) {
    for (char c : text) {
      unsigned char u = static_cast<unsigned char>(c);
      if (u < 0x20 || u == 0x7F) return Refuse(why, "用户名或密码中有控制字符");
    }
  }
  if (p.type == "FTP" || p.type == "GOPHER") {
    return Refuse(why, "FTP和GOPHER代理不能带用户名和密码");
  }
  // A log-in is only worth keeping for a proxy that can be reached; the line
  // that carries it names the host in a URL, which holds nothing else.
  if (ClassifyHost(p.address) == HostKind::kInvalid) {
    return Refuse(why, "带用户名和密码的代理地址必须是主机名或IP地址");
  }
  return true;
}

// Splits "host:port" (the host an IPv6 literal in brackets or a run without
// ":", "@", "/", "$" and blanks) from the front of `s`; what follows the port
// must be nothing, a path, or a "$" remark. Returns false when `s` has not that shape.
bool SplitHostPort(std::string_view s, std::string_view* host, std::string_view* port,
                   std::string_view* after) {
  size_t i = 0;
  if (!s.empty() && s[0] == '[') {
    i = s.find(']');
    if (i == std::string_view::npos) return false;
    // Only what an IPv6 literal is made of.
    for (char c : s.substr(1, i - 1)) {
      if (!IsAsciiAlnum(c) && c != ':' && c != '.' && c != '%') return false;
    }
    ++i;
  } else {
    while (i < s.size() && s[i] != ':' && s[i] != '@' && s[i] != '/' && s[i] != '$' &&
           s[i] != '[' && s[i] != ']' && !IsSpace(s[i])) {
      ++i;
    }
  }
  if (i == 0 || i >= s.size() || s[i] != ':') return false;
  *host = s.substr(0, i);
  std::string_view digits = LeadingDigits(s.substr(i + 1));
  if (digits.empty()) return false;
  *port = digits;
  std::string_view rest = s.substr(i + 1 + digits.size());
  if (!rest.empty() && rest[0] == '/') {
    size_t dollar = rest.find('$');
    rest = dollar == std::string_view::npos ? std::string_view() : rest.substr(dollar);
  }
  rest = TrimLeft(rest);
  if (!rest.empty() && rest[0] != '$') return false;
  *after = rest;
  return true;
}

bool CheckAddressAndPort(const ProxyLine& p, std::string* why) {
  if (p.address.empty() || p.address[0] == ';') return Refuse(why, "地址为空");
  if (p.port.empty()) return Refuse(why, "缺少端口");
  int64_t port = LeadingDigitsValue(p.port);
  if (port < 1 || port > 65535) return Refuse(why, "端口不在1到65535之间");
  return true;
}

// Where the log-in of "host:port:user:password" starts (after the port's digits
// a ":" and, further on, another one); npos for any other shape. An address
// with "@" in it is a plain line's "@TYPE" instead.
size_t LoginStart(std::string_view s) {
  size_t colon = s.find(':');
  if (!s.empty() && s[0] == '[' && s.find(']') != std::string_view::npos) colon = s.find(']') + 1;
  if (colon >= s.size() || s[colon] != ':' ||
      s.substr(0, colon).find('@') != std::string_view::npos) {
    return std::string_view::npos;
  }
  size_t digits_at = colon + 1;
  while (digits_at < s.size() && IsSpace(s[digits_at])) ++digits_at;
  std::string_view digits = LeadingDigits(s.substr(digits_at));
  size_t after = digits_at + digits.size();
  while (after < s.size() && IsSpace(s[after])) ++after;
  if (digits.empty() || after + 1 >= s.size() || s[after] != ':' ||
      s.find(':', after + 1) == std::string_view::npos) {
    return std::string_view::npos;
  }
  return after + 1;
}

// Where a line's "$" remark begins; npos without one. A password may hold "$",
// so inside a log-in a "$" begins the remark only after an "@TYPE", or when
// words follow it (a blank or a non-ASCII letter, as a location has), which the
// program's own files never write into a password of this form.
size_t RemarkStart(std::string_view s) {
  size_t login = LoginStart(s);
  size_t first = s.find('$');
  if (login == std::string_view::npos || first < login) return first;
  for (size_t dollar = s.find('$', login); dollar != std::string_view::npos;
       dollar = s.find('$', dollar + 1)) {
    std::string_view before = s.substr(login, dollar - login);
    size_t at = before.rfind('@');
    if (at != std::string_view::npos && IsAcceptedType(TypeWord(before.substr(at + 1)))) {
      return dollar;
    }
    for (char c : s.substr(dollar + 1)) {
      if (IsSpace(c) || static_cast<unsigned char>(c) >= 0x80) return dollar;
    }
  }
  return std::string_view::npos;
}

bool ParseUrlLine(std::string_view s, size_t scheme_length, ProxyLine* out, std::string* why) {
  std::string_view scheme = s.substr(0, scheme_length);
  out->type = std::string(TypeOfScheme(scheme));
  if (out->type.empty()) {
    return Refuse(why, Format("不支持的代理协议%.*s", int(scheme.size()), scheme.data()));
  }
  std::string_view rest = s.substr(scheme_length + 3);
  // The log-in ends at the first "@" that the host and port follow (an "@" in
  // a remark behind them is the remark's).
  std::string_view host, port, after;
  size_t at = std::string_view::npos;
  bool found = false;
  while (!found) {
    at = rest.find('@', at == std::string_view::npos ? 0 : at + 1);
    if (at == std::string_view::npos) break;
    found = SplitHostPort(rest.substr(at + 1), &host, &port, &after);
  }
  if (!found) {
    at = std::string_view::npos;
    found = SplitHostPort(rest, &host, &port, &after);
  }
  if (!found) return Refuse(why, "地址或端口无效");
  out->address = std::string(host);
  out->port = std::string(port);
  if (!after.empty()) out->remark = std::string(CapRemark(Trim(after.substr(1))));
  if (!CheckAddressAndPort(*out, why)) return false;
  if (at == std::string_view::npos) return true;
  std::string_view login = rest.substr(0, at);
  size_t colon = login.find(':');
  std::string_view user = login.substr(0, colon);
  std::string_view password =
      colon == std::string_view::npos ? std::string_view() : login.substr(colon + 1);
  if (!PercentDecode(user, &out->user) || !PercentDecode(password, &out->password)) {
    return Refuse(why, "用户名或密码中的%转义无效");
  }
  return CheckCredentials(*out, why);
}

}  // namespace

bool ParseProxyLine(std::string_view line, ProxyLine* out, std::string* why) {
  *out = ProxyLine{};
  if (why) why->clear();
  std::string_view s = Trim(line);
  if (size_t scheme = SchemeLength(s); scheme != 0) return ParseUrlLine(s, scheme, out, why);

  if (size_t dollar = RemarkStart(s); dollar != std::string_view::npos) {
    out->remark = std::string(CapRemark(Trim(s.substr(dollar + 1))));
    s = s.substr(0, dollar);
  }
  size_t colon = s.find(':');
  bool bracketed = !s.empty() && s[0] == '[' && s.find(']') != std::string_view::npos;
  if (bracketed) colon = s.find(']') + 1;
  std::string_view login;
  if (colon < s.size() && s[colon] == ':' &&
      s.substr(0, colon).find('@') == std::string_view::npos) {
    std::string_view tail = TrimLeft(s.substr(colon + 1));
    std::string_view digits = LeadingDigits(tail);
    std::string_view after = TrimLeft(tail.substr(digits.size()));
    if (!digits.empty() && after.size() > 1 && after[0] == ':' &&
        after.find(':', 1) != std::string_view::npos) {
      out->port = std::string(digits);
      login = after.substr(1);
    }
  }
  if (!login.empty()) {
    if (size_t at = login.rfind('@'); at != std::string_view::npos) {
      std::string word = TypeWord(login.substr(at + 1));
      if (IsAcceptedType(word)) {
        out->type = word;
        login = login.substr(0, at);
      }
    }
    size_t mid = login.find(':');
    out->user = std::string(Trim(login.substr(0, mid)));
    out->password = std::string(Trim(login.substr(mid + 1)));
    s = s.substr(0, colon);
  } else {
    if (size_t at = s.find('@'); at != std::string_view::npos) {
      out->type = TypeWord(s.substr(at + 1));
      s = s.substr(0, at);
    }
    colon = s.find(':');
    if (bracketed && s.find(']') != std::string_view::npos) {
      colon = s.find(']') + 1;
      colon =
          TrimLeft(s.substr(colon)).starts_with(':') ? s.find(':', colon) : std::string_view::npos;
    }
    if (colon != std::string_view::npos) {
      out->port = std::string(LeadingDigits(TrimLeft(s.substr(colon + 1))));
      s = s.substr(0, colon);
    }
  }
  out->address = std::string(Trim(s));

  if (out->address.empty() || out->address[0] == ';') return Refuse(why, "地址为空");
  if (!CheckAddressAndPort(*out, why)) return false;
  if (!out->type.empty() && !IsAcceptedType(out->type)) {
    return Refuse(why, Format("未知的代理类型%s", out->type.c_str()));
  }
  if (!login.empty()) return CheckCredentials(*out, why);
  return true;
}

bool IsProxyUrlLine(std::string_view line) {
  ProxyLine p;
  return SchemeLength(Trim(line)) != 0 && ParseProxyLine(line, &p);
}

bool CheckProxyCredentials(const ProxyLine& line, std::string* why) {
  if (why) why->clear();
  return CheckCredentials(line, why);
}

int ProxyKindIndex(std::string_view type) {
  for (size_t i = 0; i < std::size(kKindTable); ++i) {
    if (type == kKindTable[i]) return int(i);
  }
  return -1;
}

bool IsSocksType(std::string_view type) {
  return type == "SOCKS" || type == "SOCKS4" || type == "SOCKS4A" || type == "SOCKS5";
}

bool AddressFitsProxyServerText(std::string_view address) {
  if (address.empty()) return false;
  for (char c : address) {
    if (IsSpace(c) || c == ';' || c == '=') return false;
  }
  return true;
}

std::string HostPortText(std::string_view address, std::string_view port) {
  std::string out;
  out.reserve(address.size() + port.size() + 1);
  out.append(address).append(":").append(port);
  return out;
}

std::string FullLineText(std::string_view address, std::string_view port, std::string_view type,
                         std::string_view location) {
  std::string out = HostPortText(address, port);
  if (!type.empty()) out.append("@").append(type);
  if (!location.empty()) out.append("$").append(location);
  return out;
}

std::string CredentialLineText(std::string_view address, std::string_view port,
                               std::string_view type, std::string_view user,
                               std::string_view password, std::string_view location) {
  auto plain = [](std::string_view text) {
    for (char c : text) {
      if (c == ':' || c == '@' || c == '$' || IsSpace(c)) return false;
    }
    return true;
  };
  // After a log-in of this form a remark reads back as one only when it is
  // words (RemarkStart): a single ASCII word would join the password.
  bool remark_reads_back = location.empty();
  for (char c : location) {
    remark_reads_back = remark_reads_back || IsSpace(c) || static_cast<unsigned char>(c) >= 0x80;
  }
  std::string out;
  if (type.empty() && plain(user) && plain(password) && remark_reads_back) {
    out = HostPortText(address, port);
    out.append(":").append(user).append(":").append(password);
    if (!location.empty()) out.append("$").append(location);
    return out;
  }
  if (type == "HTTPS") {
    out = "https://";
  } else if (type.empty() || type == "HTTP") {
    out = "http://";
  } else {
    for (char c : type) out += AsciiLower(c);
    out += "://";
  }
  PercentEncode(user, &out);
  out += ':';
  PercentEncode(password, &out);
  out.append("@").append(HostPortText(address, port));
  if (!location.empty()) out.append("$").append(location);
  return out;
}

std::string LoginProxyText(std::string_view address, std::string_view port, std::string_view type,
                           std::string_view user) {
  std::string out;
  if (type.empty()) out = "http";
  for (char c : type) out += AsciiLower(c);
  out += "://";
  PercentEncode(user, &out);
  out.append("@").append(HostPortText(address, port));
  return out;
}

std::string DuplicateKey(std::string_view address, std::string_view port, std::string_view type,
                         std::string_view user) {
  if (IsSocksType(type)) type = "SOCKS";
  // With a log-in the row is an HTTP proxy whether untyped, HTTP or HTTPS.
  if (!user.empty() && (type.empty() || type == "HTTPS")) type = "HTTP";
  std::string key = HostPortText(address, port);
  key.append("@").append(type);
  key = AsciiUpperCopy(key);
  if (!user.empty()) key.append("#").append(user);
  return key;
}

}  // namespace core
