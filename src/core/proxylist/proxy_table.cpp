#include "core/proxylist/proxy_table.h"

#include <array>
#include <set>
#include <string>
#include <vector>

#include "core/base/json_reader.h"
#include "core/base/text.h"
#include "core/proxylist/proxy_line.h"

namespace core {
namespace {

enum Column : int { kAddress = 0, kPort, kUser, kPassword, kType, kExpiry, kColumns };

// The header words of each column, compared in lower case.
constexpr std::string_view kAddressNames[] = {"ip",     "host",       "address",  "addr",
                                              "server", "ip_address", "proxy_ip", "proxy_host",
                                              "ip地址", "地址",       "主机"};
constexpr std::string_view kPortNames[] = {"port", "proxy_port", "端口"};
constexpr std::string_view kUserNames[] = {"user",    "username", "user_name", "login",
                                           "account", "用户名",   "账号",      "帐号"};
constexpr std::string_view kPasswordNames[] = {"pass", "password", "passwd", "pwd", "密码"};
constexpr std::string_view kTypeColumnNames[] = {"type", "protocol", "scheme", "类型", "协议"};
const std::array<std::vector<std::string_view>, kColumns> kNames = {{
    {std::begin(kAddressNames), std::end(kAddressNames)},
    {std::begin(kPortNames), std::end(kPortNames)},
    {std::begin(kUserNames), std::end(kUserNames)},
    {std::begin(kPasswordNames), std::end(kPasswordNames)},
    {std::begin(kTypeColumnNames), std::end(kTypeColumnNames)},
    {std::begin(kExpiryColumnNames), std::end(kExpiryColumnNames)},
}};

// One line's cells: split at `delimiter`, a cell in double quotes may hold it
// (and "" for a quote).
std::vector<std::string> Cells(std::string_view line, char delimiter) {
  std::vector<std::string> cells(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        cells.back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        cells.back() += c;
      }
    } else if (c == '"' && Trim(cells.back()).empty()) {
      cells.back().clear();
      quoted = true;
    } else if (c == delimiter) {
      cells.emplace_back();
    } else {
      cells.back() += c;
    }
  }
  for (std::string& cell : cells) cell = std::string(Trim(cell));
  return cells;
}

struct Header {
  char delimiter = 0;
  std::array<int, kColumns> at{};
  std::vector<std::string> names;  // lower case
};

// A header names an address column; a port column, or addresses written with
// their port.
std::optional<Header> ReadHeader(std::string_view line) {
  Header h;
  for (char d : {'\t', ',', ';', '|'}) {
    if (line.find(d) != std::string_view::npos) {
      h.delimiter = d;
      break;
    }
  }
  if (h.delimiter == 0) return std::nullopt;
  h.at.fill(-1);
  std::vector<std::string> header = Cells(line, h.delimiter);
  for (size_t i = 0; i < header.size(); ++i) {
    std::string name;
    for (char c : header[i]) name += AsciiLower(c);
    for (int column = 0; column < kColumns; ++column) {
      for (std::string_view known : kNames[size_t(column)]) {
        if (name == known && h.at[size_t(column)] < 0) h.at[size_t(column)] = int(i);
      }
    }
    h.names.push_back(std::move(name));
  }
  if (h.at[kAddress] < 0) return std::nullopt;
  return h;
}

std::vector<std::string_view> NonBlankLines(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!Trim(line).empty()) lines.push_back(line);
  }
  return lines;
}

}  // namespace

bool IsProxyTableHeader(std::string_view line) { return ReadHeader(line).has_value(); }

std::optional<std::vector<ProxyTableRow>> ReadProxyTableRows(std::string_view text) {
  std::vector<std::string_view> lines = NonBlankLines(text);
  if (lines.empty()) return std::nullopt;
  std::optional<Header> h = ReadHeader(lines[0]);
  if (!h) return std::nullopt;
  std::vector<ProxyTableRow> rows;
  for (size_t n = 1; n < lines.size(); ++n) {
    std::vector<std::string> cells = Cells(lines[n], h->delimiter);
    auto cell = [&](Column column) -> std::string_view {
      int i = h->at[size_t(column)];
      return i >= 0 && size_t(i) < cells.size() ? std::string_view(cells[size_t(i)]) : "";
    };
    std::string_view address = cell(kAddress), port = cell(kPort);
    // "1.2.3.4:8080" in the address column, and no port column.
    size_t colon = address.find(':');
    if (h->at[kPort] < 0 && colon != std::string_view::npos &&
        address.find(':', colon + 1) == std::string_view::npos) {
      port = address.substr(colon + 1);
      address = address.substr(0, colon);
    }
    std::string type(TypeOfScheme(cell(kType)));
    bool login = !cell(kUser).empty() && !cell(kPassword).empty();
    std::string line =
        login ? CredentialLineText(address, port, type, cell(kUser), cell(kPassword), "")
              : FullLineText(address, port, type, "");
    ProxyLine parsed;
    if (port.empty() || !ParseProxyLine(line, &parsed)) continue;
    ProxyTableRow row{std::move(line), login, "", ""};
    if (h->at[kExpiry] >= 0) {
      row.expiry_column = h->names[size_t(h->at[kExpiry])];
      row.expiry = std::string(cell(kExpiry));
    }
    rows.push_back(std::move(row));
  }
  if (rows.empty()) return std::nullopt;
  return rows;
}

std::optional<ExtractedProxies> ReadProxyTable(std::string_view text) {
  std::optional<std::vector<ProxyTableRow>> rows = ReadProxyTableRows(text);
  if (!rows) return std::nullopt;
  ExtractedProxies found;
  std::set<std::string> seen;
  for (ProxyTableRow& row : *rows) {
    if (!seen.insert(row.line).second) continue;
    found.with_login += row.login ? 1 : 0;
    found.lines.push_back(std::move(row.line));
  }
  return found;
}

std::string ProviderErrorText(std::string_view text) {
  text = Trim(text);
  if (text.size() > 64 * 1024 || !text.starts_with("{")) return "";
  std::string error;
  std::optional<JsonValue> answer = ParseJson(text, &error);
  if (!answer || answer->kind != JsonValue::Kind::kObject) return "";
  auto message_of = [](const JsonValue& object) -> std::string {
    for (std::string_view key :
         {"msg", "message", "errmsg", "error_msg", "error", "info", "reason", "desc"}) {
      const JsonValue* v = object.Find(key);
      if (v && v->kind == JsonValue::Kind::kString && !Trim(v->text).empty()) return v->text;
    }
    return "";
  };
  std::string message = message_of(*answer);
  for (const JsonMember& m : answer->members) {
    if (message.empty() && m.second.kind == JsonValue::Kind::kObject)
      message = message_of(m.second);
  }
  if (message.empty()) return "";
  for (std::string_view key : {"code", "error_code", "errcode", "status"}) {
    const JsonValue* v = answer->Find(key);
    if (v && (v->kind == JsonValue::Kind::kNumber || v->kind == JsonValue::Kind::kString) &&
        !v->text.empty()) {
      message += "（代码 " + v->text + "）";
      break;
    }
  }
  // One line, without control characters, and short.
  std::string line;
  for (char c : message) line += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
  return std::string(Utf8Prefix(line, 200));
}

}  // namespace core
