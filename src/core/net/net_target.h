// The far end of a tunnel as the proxy protocols carry it: a host (a name, an IPv4 or
// an IPv6 literal) and a port, with the literal parsers, the "host:port" text and the
// Basic credentials text the protocols share. Pure functions; any thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace core {

struct NetTarget {
  std::string host;  // a name or an address literal; an IPv6 literal without brackets
  uint16_t port = 0;
  bool operator==(const NetTarget&) const = default;
};

struct ProxyCredentials {
  std::string user;
  std::string password;
  bool operator==(const ProxyCredentials&) const = default;
};

enum class HostKind : int { kInvalid = 0, kName, kIpv4, kIpv6 };

// What `host` is. An IPv4 literal is four dotted decimal parts of at most three digits
// and value 255; an IPv6 literal follows RFC 4291's text forms ("::", an IPv4 tail),
// with or without brackets, and without a zone ("%eth0" makes it invalid). A name is
// 1 to 255 bytes of letters, digits, "-", "_" and "." (internationalised names arrive
// here in their ASCII form). `bytes`, when given, receives the address of a literal in
// network order (IPv4 in the first four bytes).
HostKind ClassifyHost(std::string_view host, std::array<uint8_t, 16>* bytes = nullptr);

// "host:port", the IPv6 literal in brackets.
std::string HostPortText(const NetTarget& target);

// Reads "host:port", "[v6]:port" or, when `default_port` is not 0, a bare host or
// "[v6]" (a bare IPv6 literal without brackets is refused: its last group would read
// as a port). The port is 1..65535 in decimal digits only. Returns false, leaving
// `out` cleared, when the host is invalid by ClassifyHost or the port is bad.
bool ParseAuthority(std::string_view text, uint16_t default_port, NetTarget* out);

// Whether `host` names this machine: "localhost" and any name under it, and
// "localhost.localdomain" (any case, optionally with a trailing dot); 127.0.0.0/8
// and 0.0.0.0 in every form the system's address parser takes ("127.1",
// "2130706433", "0177.0.0.1", "0x7f.0.0.1"); ::1, :: and ::ffff:127.x.y.z. A name
// that resolves to this machine is found only where it is resolved.
bool IsLoopbackHost(std::string_view host);

// Whether `target` is one of `ports` on this machine (IsLoopbackHost): a relay
// port, which a relayed connection must never be sent to, as client target or
// as proxy.
bool NamesOwnPort(const NetTarget& target, const std::vector<uint16_t>& ports);
// The same for a proxy row's address (an IPv6 literal may keep its brackets)
// and its port as the list keeps it (decimal digits, leading zeros allowed): a
// row naming the program's own relay is never verified usable nor switched to.
// False for a port text that is no port.
bool NamesOwnPort(std::string_view address, std::string_view port,
                  const std::vector<uint16_t>& ports);

// Standard base64 with "=" padding.
std::string Base64Encode(std::string_view bytes);
// The bytes of a standard base64 text, padding optional; nullopt when a
// character is not of the alphabet.
std::optional<std::string> Base64Decode(std::string_view text);

// The address of a SOCKS5 request or reply (RFC 1928): the address type at byte
// 3, then an IPv4 address, a length-prefixed name or an IPv6 address, then the
// port. kNeedMore until all of it has arrived; on kRead, *out holds the host as
// text and the port, and *end is where the message ends.
enum class Socks5AddressRead { kNeedMore, kBadType, kRead };
Socks5AddressRead ReadSocks5Address(std::string_view message, NetTarget* out, size_t* end);

}  // namespace core
