#include "core/verify/judge_page.h"

#include <algorithm>
#include <cctype>

#include "core/base/text.h"
#include "core/net/net_target.h"

namespace core {
namespace {

// Fields that only a proxy puts into a request.
constexpr std::string_view kProxyFields[] = {"VIA",         "X-FORWARDED-FOR", "FORWARDED",
                                             "X-FORWARDED", "FORWARDED-FOR",   "X-REAL-IP",
                                             "CLIENT-IP",   "X-CLIENT-IP",     "PROXY-CONNECTION",
                                             "X-PROXY-ID",  "X-BLUECOAT-VIA",  "X-ORIGINATING-IP",
                                             "X-TINYPROXY"};

bool NameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-'; }
bool AddressChar(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) || c == '.' || c == ':';
}

bool HasProxyField(const std::string& page) {
  for (std::string_view name : kProxyFields) {
    for (size_t at = page.find(name); at != std::string::npos; at = page.find(name, at + 1)) {
      if (at > 0 && NameChar(page[at - 1])) {
        // "HTTP-VIA" (from HTTP_VIA) is the CGI form of the field.
        if (!(at >= 5 && page.compare(at - 5, 5, "HTTP-") == 0 &&
              (at == 5 || !NameChar(page[at - 6])))) {
          continue;
        }
      }
      size_t end = at + name.size();
      while (end < page.size() && (page[end] == ' ' || page[end] == '\t')) ++end;
      if (end < page.size() && (page[end] == ':' || page[end] == '=' || page[end] == '"')) {
        return true;
      }
    }
  }
  return false;
}

bool HasAddress(std::string_view page, std::string_view address) {
  if (address.empty()) return false;
  for (size_t at = page.find(address); at != std::string_view::npos;
       at = page.find(address, at + 1)) {
    size_t end = at + address.size();
    bool before =
        at > 0 && (std::isalnum(static_cast<unsigned char>(page[at - 1])) || page[at - 1] == '.');
    bool after = end < page.size() &&
                 (std::isalnum(static_cast<unsigned char>(page[end])) || page[end] == '.' ||
                  (page[end] == ':' && address.find(':') != std::string_view::npos));
    if (!before && !after) return true;
  }
  return false;
}

}  // namespace

const char* GradeWord(AnonymityGrade grade) {
  switch (grade) {
    case AnonymityGrade::kTransparent:
      return "transparent";
    case AnonymityGrade::kAnonymous:
      return "anonymous";
    case AnonymityGrade::kElite:
      return "elite";
    case AnonymityGrade::kTunnelled:
      return "tunnel";
    case AnonymityGrade::kUnknown:
      break;
  }
  return "";
}

namespace {

// The page without its Host lines: they name the judge, never the client, and a
// judge on this machine would otherwise show one of its own addresses there.
std::string WithoutHostLines(std::string_view page) {
  std::string out;
  out.reserve(page.size());
  while (!page.empty()) {
    size_t end = page.find('\n');
    std::string_view line = page.substr(0, end == std::string_view::npos ? page.size() : end + 1);
    page.remove_prefix(line.size());
    std::string_view name = TrimLeft(line);
    bool host = false;
    for (std::string_view field : {"HOST", "HTTP_HOST", "\"HOST\"", "\"HTTP_HOST\""}) {
      if (StartsWithIgnoreAsciiCase(name, field)) {
        std::string_view rest = TrimLeft(name.substr(field.size()));
        host = host || (!rest.empty() && (rest[0] == ':' || rest[0] == '='));
      }
    }
    if (!host) out.append(line);
  }
  return out;
}

}  // namespace

AnonymityGrade GradeJudgePage(std::string_view page,
                              const std::vector<std::string>& own_addresses) {
  std::string fields = WithoutHostLines(page);
  for (const std::string& own : own_addresses) {
    if (HasAddress(fields, own)) return AnonymityGrade::kTransparent;
  }
  std::string upper = AsciiUpperCopy(page);
  std::replace(upper.begin(), upper.end(), '_', '-');
  return HasProxyField(upper) ? AnonymityGrade::kAnonymous : AnonymityGrade::kElite;
}

std::vector<std::string> AddressesIn(std::string_view text) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < text.size()) {
    if (!AddressChar(text[i])) {
      ++i;
      continue;
    }
    size_t start = i;
    while (i < text.size() && AddressChar(text[i])) ++i;
    std::string_view token = text.substr(start, i - start);
    // Trailing dots and colons end sentences and fields, not addresses.
    while (!token.empty() && (token.back() == '.' || (token.back() == ':' && token.size() > 2 &&
                                                      token[token.size() - 2] != ':'))) {
      token.remove_suffix(1);
    }
    HostKind kind = ClassifyHost(token);
    if ((kind == HostKind::kIpv4 || kind == HostKind::kIpv6) &&
        std::find(out.begin(), out.end(), token) == out.end()) {
      out.emplace_back(token);
    }
  }
  return out;
}

}  // namespace core
