// The address extractor: finds proxy entries in text that is not a list file of
// proxy lines (plain lists with schemes, forum posts, web pages with tables and
// entities, JSON) and gives them back as proxy lines for the list's add
// operation. Pure function over the text; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace core {

struct ExtractedProxies {
  // Proxy lines "address:port", then "@TYPE" when the text named the protocol
  // (a scheme, an "@type" suffix, a JSON "protocol" or a type column), then
  // "$remark" when a table row named the country unambiguously. An entry written
  // with a user name and password ("user:pass@1.2.3.4:8080",
  // "socks5://user:pass@…", "1.2.3.4:8080:user:pass", "1.2.3.4:8080@user:pass")
  // comes with them, as CredentialLineText writes it. ParseProxyLine accepts
  // every one. In order of first appearance; an address, port, type and user
  // name written several times gives one line.
  std::vector<std::string> lines;
  // How many of `lines` carry a user name and password.
  int with_login = 0;
};

// Finds every IPv4 proxy in `text` (UTF-8; convert ANSI text first) in these
// shapes: "1.2.3.4:8080" (blanks around the colon allowed), "scheme://1.2.3.4:8080"
// for http, https, socks, socks4(a), socks5(h) (any letter case; the scheme gives
// the type), "1.2.3.4 8080" and "1.2.3.4<TAB>8080" on one line (also with a
// "port" / "端口" label), a table row with the address and the port in adjacent
// cells, and a JSON object with the address as a string and a "port" member.
// Tags are dropped, the contents of style elements and comments ignored, and
// character references decoded; a full-width colon counts as a colon.
// Not entries: parts that are over 255 or have leading zeros, ports outside
// 1..65535, numbers glued to more digits, dots or letters (dates, version numbers,
// "v1.2.3.4", "1.2.3.4.5", "10.0.0.0/8"), addresses inside a URL's path or query
// and under a scheme the program does not use. Linear in the size of `text`.
// A user name and password in running text are at most 128 bytes each and
// end at a blank or at a character that ends a URL there (quotes, brackets, ",", ";").
ExtractedProxies ExtractProxyLines(std::string_view text);

}  // namespace core
