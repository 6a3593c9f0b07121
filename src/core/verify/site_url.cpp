#include "core/verify/site_url.h"

#include "core/base/text.h"

namespace core {
namespace {

// Where the log-in of `url` lies: "user[:password]" from `begin` to the host's
// "@" (the last one before the path); `colon` is the first ":" in it or npos.
struct LoginSpan {
  size_t begin = 0;
  size_t colon = std::string_view::npos;
  size_t at = 0;
};

std::optional<LoginSpan> FindLogin(std::string_view url) {
  size_t start = url.find("://");
  if (start == std::string_view::npos) return std::nullopt;
  start += 3;
  std::string_view authority = url.substr(start, url.find('/', start) - start);
  size_t at = authority.rfind('@');
  if (at == std::string_view::npos) return std::nullopt;
  size_t colon = authority.substr(0, at).find(':');
  return LoginSpan{start, colon == std::string_view::npos ? colon : start + colon, start + at};
}

}  // namespace

bool ParseSiteUrl(std::string_view url, SiteUrl* out) {
  *out = SiteUrl{};
  std::string_view s = Trim(url);
  if (s.empty()) return false;
  size_t sep = s.find("://");
  if (sep == std::string_view::npos) return false;

  std::string scheme = AsciiUpperCopy(s.substr(0, sep));
  if (scheme == "HTTP") {
    out->scheme = SiteScheme::kHttp;
  } else if (scheme == "HTTPS") {
    out->scheme = SiteScheme::kHttps;
  } else if (scheme == "FTP") {
    out->scheme = SiteScheme::kFtp;
  }
  std::string_view rest = s.substr(sep + 3);

  std::string_view authority = rest;
  size_t slash = rest.find('/');
  if (slash != std::string_view::npos) {
    out->path = std::string(rest.substr(slash));
    authority = rest.substr(0, slash);
  }

  size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    std::string_view user_part = authority.substr(0, at);
    authority = authority.substr(at + 1);
    size_t colon = user_part.find(':');
    if (colon == std::string_view::npos) {
      out->user = std::string(user_part);
    } else {
      out->user = std::string(user_part.substr(0, colon));
      out->password = std::string(user_part.substr(colon + 1));
    }
  }

  size_t colon = authority.find(':');
  if (colon == std::string_view::npos) {
    out->host = std::string(authority);
    return true;
  }
  out->host = std::string(authority.substr(0, colon));
  // The port keeps its value modulo 65536, as the 16-bit port field of the
  // connection does. Reducing modulo 2^32 on the way keeps that remainder and
  // cannot overflow on a long run of digits.
  uint64_t value = 0;
  for (char c : LeadingDigits(authority.substr(colon + 1))) {
    value = (value * 10 + uint64_t(c - '0')) & 0xFFFFFFFFu;
  }
  out->port = uint16_t(value & 0xFFFF);
  return out->port != 0;
}

std::string SiteUrlForDisplay(std::string_view url) {
  std::optional<LoginSpan> login = FindLogin(url);
  if (!login || login->colon == std::string_view::npos) return std::string(url);
  std::string out(url.substr(0, login->colon + 1));
  out += "***";
  out += url.substr(login->at);
  return out;
}

std::string SiteUrlWithoutPassword(std::string_view url, std::string* password) {
  password->clear();
  std::optional<LoginSpan> login = FindLogin(url);
  if (!login || login->colon == std::string_view::npos || login->colon + 1 == login->at) {
    return std::string(url);
  }
  *password = std::string(url.substr(login->colon + 1, login->at - login->colon - 1));
  return std::string(url.substr(0, login->colon)) + std::string(url.substr(login->at));
}

std::optional<std::string> SiteUrlWithPassword(std::string_view url, std::string_view password) {
  std::optional<LoginSpan> login = FindLogin(url);
  if (!login || login->colon != std::string_view::npos) return std::nullopt;
  std::string out(url.substr(0, login->at));
  out.append(":").append(password).append(url.substr(login->at));
  return out;
}

}  // namespace core
