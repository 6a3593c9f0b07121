// The proxy text line: address [":" port] ["@" type] ["$" remark], the one text
// form in which proxies travel through the program, its parser and the derived
// texts of an entry (host:port, full line, duplicate key). Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

namespace core {

// The longest remark kept, in characters; the parser cuts longer ones.
inline constexpr size_t kMaxRemarkChars = 256;

// The parts of one accepted proxy line. Texts are trimmed; the type is upper case.
struct ProxyLine {
  std::string address;
  std::string port;  // digits as typed, leading zeros kept
  std::string type;  // "" or one of the accepted type names
  std::string remark;
};

// Parses one proxy line; a remark is cut to kMaxRemarkChars characters. Returns
// false when the line is refused: empty address, address beginning with ";" (a
// comment), port outside 1..65535 (or missing), or a type word that is not a
// known proxy type. `out` is always overwritten.
bool ParseProxyLine(std::string_view line, ProxyLine* out);

// Index of a type name in the kind table: 0 for "", 1..6 for HTTP, HTTPS, SOCKS,
// SOCKS4, SOCKS5, FTP; -1 for anything else (GOPHER included).
int ProxyKindIndex(std::string_view type);

// "address:port".
std::string HostPortText(std::string_view address, std::string_view port);

// Whether an address can stand in a proxy list of the system's form
// ("host:port" entries separated by ";", "kind=" prefixes): not empty, without
// blanks, ";" or "=". Anything else would turn one proxy into several.
bool AddressFitsProxyServerText(std::string_view address);

// "address:port", then "@type" when there is a type, then "$location" when there
// is a location. Parsing it gives the entry back, the location as remark.
std::string FullLineText(std::string_view address, std::string_view port, std::string_view type,
                         std::string_view location);

// "ADDRESS:PORT@TYPE" upper-cased, where a type ending in "4" or "5" loses that
// character, so SOCKS4 and SOCKS5 entries on one address and port are duplicates.
std::string DuplicateKey(std::string_view address, std::string_view port, std::string_view type);

}  // namespace core
