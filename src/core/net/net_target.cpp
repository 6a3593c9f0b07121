#include "core/net/net_target.h"

#include <vector>

#include "core/base/text.h"

namespace core {
namespace {

bool ParseIpv4(std::string_view s, uint8_t* out) {
  int part = 0;
  size_t i = 0;
  while (part < 4) {
    size_t start = i;
    int value = 0;
    while (i < s.size() && IsDigit(s[i]) && i - start < 3) value = value * 10 + (s[i++] - '0');
    if (i == start || value > 255) return false;
    if (i < s.size() && IsDigit(s[i])) return false;  // a fourth digit
    out[part++] = static_cast<uint8_t>(value);
    if (part < 4) {
      if (i >= s.size() || s[i] != '.') return false;
      ++i;
    }
  }
  return i == s.size();
}

int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  char l = AsciiLower(c);
  if (l >= 'a' && l <= 'f') return l - 'a' + 10;
  return -1;
}

// Parses the colon-separated groups of one side of "::" into 16-bit values; the last
// group may be an IPv4 address when `allow_v4_tail`, giving two values.
bool ParseGroups(std::string_view s, bool allow_v4_tail, std::vector<uint16_t>* out) {
  if (s.empty()) return true;
  size_t pos = 0;
  while (true) {
    size_t colon = s.find(':', pos);
    std::string_view group = s.substr(pos, colon == std::string_view::npos ? s.npos : colon - pos);
    if (colon == std::string_view::npos && allow_v4_tail &&
        group.find('.') != std::string_view::npos) {
      uint8_t v4[4];
      if (!ParseIpv4(group, v4)) return false;
      out->push_back(static_cast<uint16_t>(v4[0] << 8 | v4[1]));
      out->push_back(static_cast<uint16_t>(v4[2] << 8 | v4[3]));
      return true;
    }
    if (group.empty() || group.size() > 4) return false;
    unsigned value = 0;
    for (char c : group) {
      int h = HexValue(c);
      if (h < 0) return false;
      value = value * 16 + static_cast<unsigned>(h);
    }
    out->push_back(static_cast<uint16_t>(value));
    if (colon == std::string_view::npos) return true;
    pos = colon + 1;
  }
}

bool ParseIpv6(std::string_view s, uint8_t* out) {
  if (s.size() < 2 || s.size() > 45) return false;
  std::vector<uint16_t> left, right;
  size_t gap = s.find("::");
  if (gap == std::string_view::npos) {
    if (!ParseGroups(s, true, &left) || left.size() != 8) return false;
  } else {
    std::string_view tail = s.substr(gap + 2);
    if (tail.find("::") != std::string_view::npos) return false;
    if (!ParseGroups(s.substr(0, gap), false, &left) || !ParseGroups(tail, true, &right)) {
      return false;
    }
    if (left.size() + right.size() > 7) return false;
  }
  std::array<uint16_t, 8> groups{};
  for (size_t i = 0; i < left.size(); ++i) groups[i] = left[i];
  for (size_t i = 0; i < right.size(); ++i) groups[8 - right.size() + i] = right[i];
  for (size_t i = 0; i < 8; ++i) {
    out[2 * i] = static_cast<uint8_t>(groups[i] >> 8);
    out[2 * i + 1] = static_cast<uint8_t>(groups[i] & 0xFF);
  }
  return true;
}

bool IsNameChar(char c) { return IsAsciiAlnum(c) || c == '-' || c == '_' || c == '.'; }

bool ParsePort(std::string_view s, uint16_t* port) {
  if (s.empty() || s.size() > 5) return false;
  unsigned value = 0;
  for (char c : s) {
    if (!IsDigit(c)) return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0 || value > 65535) return false;
  *port = static_cast<uint16_t>(value);
  return true;
}

}  // namespace

HostKind ClassifyHost(std::string_view host, std::array<uint8_t, 16>* bytes) {
  std::array<uint8_t, 16> scratch{};
  uint8_t* out = bytes ? bytes->data() : scratch.data();
  if (bytes) bytes->fill(0);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    return ParseIpv6(host.substr(1, host.size() - 2), out) ? HostKind::kIpv6 : HostKind::kInvalid;
  }
  if (host.find(':') != std::string_view::npos) {
    return ParseIpv6(host, out) ? HostKind::kIpv6 : HostKind::kInvalid;
  }
  if (ParseIpv4(host, out)) return HostKind::kIpv4;
  if (host.empty() || host.size() > 255) return HostKind::kInvalid;
  for (char c : host) {
    if (!IsNameChar(c)) return HostKind::kInvalid;
  }
  return HostKind::kName;
}

std::string HostPortText(const NetTarget& target) {
  std::string host = target.host;
  if (host.find(':') != std::string::npos && host.front() != '[') host = "[" + host + "]";
  return host + ":" + std::to_string(target.port);
}

bool ParseAuthority(std::string_view text, uint16_t default_port, NetTarget* out) {
  *out = NetTarget{};
  std::string_view host = text, port_text;
  bool has_port = false;
  if (!text.empty() && text.front() == '[') {
    size_t close = text.find(']');
    if (close == std::string_view::npos) return false;
    host = text.substr(1, close - 1);
    std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      port_text = rest.substr(1);
      has_port = true;
    }
    if (ClassifyHost(host) != HostKind::kIpv6) return false;
  } else {
    size_t colon = text.find(':');
    if (colon != std::string_view::npos) {
      if (text.find(':', colon + 1) != std::string_view::npos) return false;  // bare IPv6
      host = text.substr(0, colon);
      port_text = text.substr(colon + 1);
      has_port = true;
    }
    HostKind kind = ClassifyHost(host);
    if (kind != HostKind::kName && kind != HostKind::kIpv4) return false;
  }
  uint16_t port = default_port;
  if (has_port ? !ParsePort(port_text, &port) : default_port == 0) return false;
  out->host = std::string(host);
  out->port = port;
  return true;
}

namespace {

// The IPv4 address of an inet_aton text: one to four parts in decimal, octal
// (leading 0) or hex (0x), the last part filling the bytes left.
bool ParseLooseIpv4(std::string_view text, uint32_t* out) {
  uint64_t parts[4] = {};
  size_t count = 0;
  while (true) {
    if (count == 4 || text.empty()) return false;
    int base = 10;
    if (text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
      base = 16;
      text.remove_prefix(2);
    } else if (text.size() > 1 && text[0] == '0') {
      base = 8;
    }
    uint64_t value = 0;
    size_t digits = 0;
    for (; digits < text.size() && text[digits] != '.'; ++digits) {
      char c = text[digits];
      int d = c >= '0' && c <= '9'   ? c - '0'
              : c >= 'a' && c <= 'f' ? c - 'a' + 10
              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                     : 99;
      if (d >= base) return false;
      value = value * uint64_t(base) + uint64_t(d);
      if (value > 0xFFFFFFFFu) return false;
    }
    if (digits == 0 && base != 16) return false;
    parts[count++] = value;
    if (digits == text.size()) break;
    text.remove_prefix(digits + 1);
  }
  uint64_t address = 0;
  for (size_t i = 0; i + 1 < count; ++i) {
    if (parts[i] > 255) return false;
    address |= parts[i] << (24 - 8 * i);
  }
  uint64_t room = count == 1 ? 0xFFFFFFFFu : (uint64_t(1) << (32 - 8 * (count - 1))) - 1;
  if (parts[count - 1] > room) return false;
  *out = uint32_t(address | parts[count - 1]);
  return true;
}

bool EndsWithIgnoreAsciiCase(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() &&
         EqualsIgnoreAsciiCase(text.substr(text.size() - tail.size()), tail);
}

}  // namespace

bool NamesOwnPort(const NetTarget& target, const std::vector<uint16_t>& ports) {
  for (uint16_t p : ports) {
    if (p != 0 && p == target.port) return IsLoopbackHost(target.host);
  }
  return false;
}

bool NamesOwnPort(std::string_view address, std::string_view port,
                  const std::vector<uint16_t>& ports) {
  if (port.empty()) return false;
  int value = 0;
  for (char c : port) {
    if (!IsDigit(c)) return false;
    value = value * 10 + (c - '0');
    if (value > 65535) return false;
  }
  if (value == 0) return false;
  return NamesOwnPort(NetTarget{std::string(address), uint16_t(value)}, ports);
}

bool IsLoopbackHost(std::string_view host) {
  if (!host.empty() && host.back() == '.') host.remove_suffix(1);
  if (EqualsIgnoreAsciiCase(host, "localhost") || EndsWithIgnoreAsciiCase(host, ".localhost") ||
      EqualsIgnoreAsciiCase(host, "localhost.localdomain")) {
    return true;
  }
  uint32_t loose = 0;
  if (ParseLooseIpv4(host, &loose)) return (loose >> 24) == 127 || loose == 0;
  std::array<uint8_t, 16> a;
  switch (ClassifyHost(host, &a)) {
    case HostKind::kIpv4:
      return a[0] == 127 || (a[0] == 0 && a[1] == 0 && a[2] == 0 && a[3] == 0);
    case HostKind::kIpv6: {
      bool zero_head = true;
      for (int i = 0; i < 10; ++i) zero_head = zero_head && a[i] == 0;
      if (!zero_head) return false;
      if (a[10] == 0xFF && a[11] == 0xFF) return a[12] == 127;  // IPv4-mapped
      bool zero_rest = a[10] == 0 && a[11] == 0 && a[12] == 0 && a[13] == 0 && a[14] == 0;
      return zero_rest && (a[15] == 0 || a[15] == 1);
    }
    default:
      return false;
  }
}

std::string Base64Encode(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    uint32_t v = uint32_t(uint8_t(bytes[i])) << 16 | uint32_t(uint8_t(bytes[i + 1])) << 8 |
                 uint8_t(bytes[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  size_t left = bytes.size() - i;
  if (left > 0) {
    uint32_t v = uint32_t(uint8_t(bytes[i])) << 16;
    if (left == 2) v |= uint32_t(uint8_t(bytes[i + 1])) << 8;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += left == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::optional<std::string> Base64Decode(std::string_view text) {
  auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  while (!text.empty() && text.back() == '=') text.remove_suffix(1);
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    int v = value(c);
    if (v < 0) return std::nullopt;
    bits = bits << 6 | uint32_t(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += char((bits >> count) & 0xFF);
    }
  }
  return out;
}

Socks5AddressRead ReadSocks5Address(std::string_view message, NetTarget* out, size_t* end) {
  if (message.size() < 5) return Socks5AddressRead::kNeedMore;
  size_t address_at = 4, address_size = 0;
  switch (message[3]) {
    case 0x01:
      address_size = 4;
      break;
    case 0x04:
      address_size = 16;
      break;
    case 0x03:
      address_at = 5;
      address_size = static_cast<uint8_t>(message[4]);
      break;
    default:
      return Socks5AddressRead::kBadType;
  }
  size_t total = address_at + address_size + 2;
  if (message.size() < total) return Socks5AddressRead::kNeedMore;
  const auto* b = reinterpret_cast<const uint8_t*>(message.data());
  out->host.clear();
  if (message[3] == 0x03) {
    out->host = std::string(message.substr(address_at, address_size));
  } else if (address_size == 4) {
    out->host = Format("%u.%u.%u.%u", b[4], b[5], b[6], b[7]);
  } else {
    for (size_t i = 0; i < 16; i += 2) {
      if (i) out->host += ':';
      out->host += Format("%x", unsigned(b[4 + i]) << 8 | b[5 + i]);
    }
  }
  out->port = static_cast<uint16_t>(b[total - 2] << 8 | b[total - 1]);
  *end = total;
  return Socks5AddressRead::kRead;
}

}  // namespace core
