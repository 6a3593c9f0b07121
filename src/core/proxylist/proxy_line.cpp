#include "core/proxylist/proxy_line.h"

#include "core/base/text.h"

namespace core {
namespace {

// Every letter that can appear in a type name; the type word after "@" is the
// longest run of these, so "HTTP/1.1" and "Socks5 anonymous" give HTTP and SOCKS5.
constexpr std::string_view kTypeLetters = "HTPSFGOERCK45";

constexpr std::string_view kAcceptedTypes[] = {"HTTP",   "HTTPS",  "FTP",  "GOPHER",
                                               "SOCKS4", "SOCKS5", "SOCKS"};

constexpr std::string_view kKindTable[] = {"", "HTTP", "HTTPS", "SOCKS", "SOCKS4", "SOCKS5", "FTP"};

// The remark's first kMaxRemarkChars characters. A remark is stored with its
// row in the profile, whose values have a length limit; a longer one would make
// the row vanish from the saved list.
std::string_view CapRemark(std::string_view remark) {
  size_t chars = 0;
  for (size_t i = 0; i < remark.size(); ++i) {
    // Every byte but a UTF-8 continuation byte begins a character.
    if ((static_cast<unsigned char>(remark[i]) & 0xC0) != 0x80 && chars++ == kMaxRemarkChars) {
      return Trim(remark.substr(0, i));
    }
  }
  return remark;
}

}  // namespace

bool ParseProxyLine(std::string_view line, ProxyLine* out) {
  *out = ProxyLine{};
  std::string_view s = line;

  if (size_t dollar = s.find('$'); dollar != std::string_view::npos) {
    out->remark = std::string(CapRemark(Trim(s.substr(dollar + 1))));
    s = s.substr(0, dollar);
  }
  if (size_t at = s.find('@'); at != std::string_view::npos) {
    std::string t = AsciiUpperCopy(TrimLeft(s.substr(at + 1)));
    out->type = std::string(LeadingRun(t, kTypeLetters));
    s = s.substr(0, at);
  }
  if (size_t colon = s.find(':'); colon != std::string_view::npos) {
    out->port = std::string(LeadingDigits(TrimLeft(s.substr(colon + 1))));
    s = s.substr(0, colon);
  }
  out->address = std::string(Trim(s));

  if (out->address.empty() || out->address[0] == ';') return false;
  int64_t port = LeadingDigitsValue(out->port);
  if (port < 1 || port > 65535) return false;
  if (!out->type.empty()) {
    bool known = false;
    for (std::string_view name : kAcceptedTypes) known = known || out->type == name;
    if (!known) return false;
  }
  return true;
}

int ProxyKindIndex(std::string_view type) {
  for (size_t i = 0; i < std::size(kKindTable); ++i) {
    if (type == kKindTable[i]) return int(i);
  }
  return -1;
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

std::string DuplicateKey(std::string_view address, std::string_view port, std::string_view type) {
  if (!type.empty() && (type.back() == '4' || type.back() == '5')) type.remove_suffix(1);
  std::string key = HostPortText(address, port);
  key.append("@").append(type);
  return AsciiUpperCopy(key);
}

}  // namespace core
