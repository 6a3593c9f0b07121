#include "core/sysproxy/relay_record.h"

#include <charconv>

#include "core/base/text.h"

namespace core {
namespace {

// The text: "RM1 PORT SERVER ENABLE COUNT {FLAGS NAME SERVER BYPASS}... SUM",
// a registry value as "-" (missing) or "TYPE:HEX", a text as "x" + HEX of its
// UTF-8 bytes, SUM the FNV-1a hash of everything before it in 8 hex digits.
// Hex keeps every byte (blanks, ';', zeros in a binary value) out of the way
// of the separators.
constexpr std::string_view kMagic = "RM1";
// RM1, PORT, SERVER, ENABLE and COUNT, before the connections.
constexpr size_t kHeadFields = 5;
constexpr size_t kFieldsPerConnection = 4;
// More connection entries than any machine has; a count beyond is damage.
constexpr uint32_t kMaxConnections = 4096;

constexpr char kHexDigits[] = "0123456789abcdef";

void AppendHex(std::string& out, std::string_view bytes) {
  for (unsigned char c : bytes) {
    out += kHexDigits[c >> 4];
    out += kHexDigits[c & 15];
  }
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool ParseHex(std::string_view hex, std::string* bytes) {
  if (hex.size() % 2 != 0) return false;
  bytes->clear();
  bytes->reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    int high = HexValue(hex[i]);
    int low = HexValue(hex[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes->push_back(char(high * 16 + low));
  }
  return true;
}

uint32_t Fnv1a(std::string_view text) {
  uint32_t hash = 2166136261u;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 16777619u;
  }
  return hash;
}

std::string SumText(uint32_t sum) {
  std::string out;
  for (int shift = 28; shift >= 0; shift -= 4) out += kHexDigits[(sum >> shift) & 15];
  return out;
}

// A whole unsigned decimal number, nothing before or after it.
bool ParseNumber(std::string_view text, uint32_t* value) {
  if (text.empty() || !IsDigit(text[0])) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size();
}

void AppendValue(std::string& out, const std::optional<SavedRegistryValue>& value) {
  if (!value) {
    out += '-';
    return;
  }
  out += std::to_string(value->type);
  out += ':';
  AppendHex(out, value->bytes);
}

bool ParseValue(std::string_view field, std::optional<SavedRegistryValue>* value) {
  if (field == "-") {
    value->reset();
    return true;
  }
  size_t colon = field.find(':');
  SavedRegistryValue parsed;
  if (colon == std::string_view::npos || !ParseNumber(field.substr(0, colon), &parsed.type) ||
      !ParseHex(field.substr(colon + 1), &parsed.bytes)) {
    return false;
  }
  *value = std::move(parsed);
  return true;
}

void AppendText(std::string& out, std::string_view text) {
  out += 'x';
  AppendHex(out, text);
}

bool ParseText(std::string_view field, std::string* text) {
  return !field.empty() && field[0] == 'x' && ParseHex(field.substr(1), text);
}

std::vector<std::string_view> SplitBlanks(std::string_view text) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  while (true) {
    size_t blank = text.find(' ', start);
    fields.push_back(text.substr(start, blank - start));
    if (blank == std::string_view::npos) return fields;
    start = blank + 1;
  }
}

bool Fail(std::string* error, std::string why) {
  *error = std::move(why);
  return false;
}

// One entry of a "ProxyServer" text names the relay: "[kind=][scheme://]host:port".
bool EntryNamesRelay(std::string_view entry, uint16_t port) {
  size_t equals = entry.find('=');
  if (equals != std::string_view::npos) entry = Trim(entry.substr(equals + 1));
  size_t scheme = entry.find("://");
  if (scheme != std::string_view::npos) entry.remove_prefix(scheme + 3);
  size_t colon = entry.rfind(':');
  if (colon == std::string_view::npos) return false;
  std::string_view host = entry.substr(0, colon);
  uint32_t entry_port = 0;
  if (!ParseNumber(entry.substr(colon + 1), &entry_port) || entry_port != port) return false;
  return host == "127.0.0.1" || EqualsIgnoreAsciiCase(host, "localhost");
}

}  // namespace

std::string EncodeRelayRecord(const RelayRecord& record) {
  std::string out(kMagic);
  out += ' ';
  out += std::to_string(record.port);
  out += ' ';
  AppendValue(out, record.before.proxy_server);
  out += ' ';
  AppendValue(out, record.before.proxy_enable);
  out += ' ';
  out += std::to_string(record.before.connections.size());
  for (const SavedConnection& connection : record.before.connections) {
    out += ' ';
    out += std::to_string(connection.flags);
    out += ' ';
    AppendText(out, connection.name);
    out += ' ';
    AppendText(out, connection.server);
    out += ' ';
    AppendText(out, connection.bypass);
  }
  uint32_t sum = Fnv1a(out);
  out += ' ';
  out += SumText(sum);
  return out;
}

bool DecodeRelayRecord(std::string_view text, RelayRecord* record, std::string* error) {
  size_t last_blank = text.rfind(' ');
  if (text.substr(0, kMagic.size()) != kMagic || text.substr(kMagic.size(), 1) != " " ||
      last_blank == std::string_view::npos) {
    return Fail(error, "not a record of this program");
  }
  if (text.substr(last_blank + 1) != SumText(Fnv1a(text.substr(0, last_blank)))) {
    return Fail(error, "checksum does not match");
  }
  std::vector<std::string_view> fields = SplitBlanks(text.substr(0, last_blank));
  if (fields.size() < kHeadFields) return Fail(error, "too few fields");
  RelayRecord parsed;
  uint32_t port = 0;
  if (!ParseNumber(fields[1], &port) || port == 0 || port > 65535) {
    return Fail(error, "bad port");
  }
  parsed.port = uint16_t(port);
  if (!ParseValue(fields[2], &parsed.before.proxy_server) ||
      !ParseValue(fields[3], &parsed.before.proxy_enable)) {
    return Fail(error, "bad registry value");
  }
  uint32_t count = 0;
  if (!ParseNumber(fields[4], &count) || count > kMaxConnections ||
      fields.size() != kHeadFields + size_t(count) * kFieldsPerConnection) {
    return Fail(error, "connection count does not match");
  }
  for (uint32_t i = 0; i < count; ++i) {
    const std::string_view* f = &fields[kHeadFields + size_t(i) * kFieldsPerConnection];
    SavedConnection connection;
    if (!ParseNumber(f[0], &connection.flags) || !ParseText(f[1], &connection.name) ||
        !ParseText(f[2], &connection.server) || !ParseText(f[3], &connection.bypass)) {
      return Fail(error, "bad connection " + std::to_string(i + 1));
    }
    parsed.before.connections.push_back(std::move(connection));
  }
  *record = std::move(parsed);
  return true;
}

uint16_t RelayPortOf(int32_t profile_value) {
  return profile_value >= 1 && profile_value <= 65535 ? uint16_t(profile_value) : 0;
}

bool PointsAtRelay(std::string_view proxy_server, std::string_view proxy_enable, uint16_t port) {
  if (port == 0) return false;
  std::string_view enable = Trim(proxy_enable);
  uint32_t on = 0;
  if (!ParseNumber(enable, &on) || on == 0) return false;
  bool any = false;
  std::string_view rest = Trim(proxy_server);
  while (!rest.empty()) {
    size_t semicolon = rest.find(';');
    std::string_view entry = Trim(rest.substr(0, semicolon));
    rest = semicolon == std::string_view::npos ? std::string_view() : rest.substr(semicolon + 1);
    if (entry.empty()) continue;
    if (!EntryNamesRelay(entry, port)) return false;
    any = true;
  }
  return any;
}

RecordStep RecordStepAfterWrite(std::string_view proxy_server, std::string_view proxy_enable,
                                uint16_t relay_port, std::string_view record_text) {
  if (!PointsAtRelay(proxy_server, proxy_enable, relay_port)) {
    return record_text.empty() ? RecordStep::kKeep : RecordStep::kClear;
  }
  RelayRecord record;
  std::string error;
  // A damaged record is of no use to anyone: a fresh one replaces it.
  if (!DecodeRelayRecord(record_text, &record, &error)) return RecordStep::kWrite;
  return record.port == relay_port ? RecordStep::kKeep : RecordStep::kMovePort;
}

RelayRepairPlan PlanRelayRepair(std::string_view record_text, std::string_view proxy_server,
                                std::string_view proxy_enable) {
  RelayRepairPlan plan;
  if (record_text.empty()) return plan;
  if (!DecodeRelayRecord(record_text, &plan.record, &plan.error)) {
    plan.step = RepairStep::kRefuse;
    return plan;
  }
  plan.step = PointsAtRelay(proxy_server, proxy_enable, plan.record.port) ? RepairStep::kRestore
                                                                          : RepairStep::kForget;
  return plan;
}

}  // namespace core
