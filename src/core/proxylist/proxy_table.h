// Proxy tables: a CSV or TSV answer whose first line names its columns, as
// providers' links give them ("ip,port,user,pass", "host\tport\tusername\tpassword",
// with a type or protocol column or without). Pure function; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/proxylist/address_extractor.h"

namespace core {

// The proxy lines of a table whose header names an address column (ip, host,
// address, server, 地址 …) and a port column (port, 端口) or address cells that
// carry their port, and may name a user name, a password, a type and an expiry column; the columns
// are split at the header's delimiter (a tab, else ",", ";" or "|"), with double-quoted cells. Rows
// that do not make a proxy line are passed over. nullopt when the first non-empty line is no such
// header or no row makes a line: the text is then no table.
std::optional<ExtractedProxies> ReadProxyTable(std::string_view text);

// The header words of a column that gives each proxy's expiry.
inline constexpr std::string_view kExpiryColumnNames[] = {"expire_time", "expire", "expired",
                                                          "expire_at",   "ttl",    "deadline"};

// One row of a table, in table order, duplicates included.
struct ProxyTableRow {
  std::string line;  // a proxy line ParseProxyLine takes
  bool login = false;
  std::string expiry_column;  // the expiry column's header word, lower case; "" without one
  std::string expiry;         // the row's cell in it
};
// The rows of a table as ReadProxyTable reads them, with their expiry cells.
std::optional<std::vector<ProxyTableRow>> ReadProxyTableRows(std::string_view text);
// Whether `line` is a table's header (names an address column).
bool IsProxyTableHeader(std::string_view line);

// What a provider's link says when it gives no proxies but an error in JSON
// ({"code": 403, "msg": "白名单未添加"}, or the message one level down): the
// message, then its code when there is one, on one line of at most 200
// characters; "" when the text is no such answer.
std::string ProviderErrorText(std::string_view text);

}  // namespace core
