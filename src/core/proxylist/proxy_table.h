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
// address, server, 地址 …) and a port column (port, 端口), and may name a user
// name, a password and a type column; the columns are split at the header's
// delimiter (a tab, else ",", ";" or "|"), with double-quoted cells. Rows that
// do not make a proxy line are passed over. nullopt when the first non-empty
// line is no such header or no row makes a line: the text is then no table.
std::optional<ExtractedProxies> ReadProxyTable(std::string_view text);

// What a provider's link says when it gives no proxies but an error in JSON
// ({"code": 403, "msg": "白名单未添加"}, or the message one level down): the
// message, then its code when there is one, on one line of at most 200
// characters; "" when the text is no such answer.
std::string ProviderErrorText(std::string_view text);

}  // namespace core
