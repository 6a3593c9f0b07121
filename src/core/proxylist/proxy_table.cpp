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

enum Column : int { kAddress = 0, kPort, kUser, kPassword, kType, kColumns };

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

}  // namespace

std::optional<ExtractedProxies> ReadProxyTable(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!Trim(line).empty()) lines.push_back(line);
  }
  if (lines.empty()) return std::nullopt;
  char delimiter = 0;
  for (char d : {'\t', ',', ';', '|'}) {
    if (lines[0].find(d) != std::string_view::npos) {
      delimiter = d;
      break;
    }
  }
  if (delimiter == 0) return std::nullopt;
  std::array<int, kColumns> at;
  at.fill(-1);
  std::vector<std::string> header = Cells(lines[0], delimiter);
  for (size_t i = 0; i < header.size(); ++i) {
    std::string name;
    for (char c : header[i]) name += AsciiLower(c);
    for (int column = 0; column < kColumns; ++column) {
      for (std::string_view known : kNames[size_t(column)]) {
        if (name == known && at[size_t(column)] < 0) at[size_t(column)] = int(i);
      }
    }
  }
  if (at[kAddress] < 0 || at[kPort] < 0) return std::nullopt;
  ExtractedProxies found;
  std::set<std::string> seen;
  for (size_t n = 1; n < lines.size(); ++n) {
    std::vector<std::string> cells = Cells(lines[n], delimiter);
    auto cell = [&](Column column) -> std::string_view {
      int i = at[size_t(column)];
      return i >= 0 && size_t(i) < cells.size() ? std::string_view(cells[size_t(i)]) : "";
    };
    std::string type(TypeOfScheme(cell(kType)));
    bool login = !cell(kUser).empty() && !cell(kPassword).empty();
    std::string line = login ? CredentialLineText(cell(kAddress), cell(kPort), type, cell(kUser),
                                                  cell(kPassword), "")
                             : FullLineText(cell(kAddress), cell(kPort), type, "");
    ProxyLine parsed;
    if (!ParseProxyLine(line, &parsed) || !seen.insert(line).second) continue;
    found.lines.push_back(line);
    found.with_login += login ? 1 : 0;
  }
  if (found.lines.empty()) return std::nullopt;
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
