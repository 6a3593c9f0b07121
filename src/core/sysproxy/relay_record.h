// The system proxy setting from before the program pointed the system proxy at
// its local relay, as the profile keeps it (one text value, so that a write is
// never half done), and the decisions around it: whether the setting still
// points at the relay, what a switch does to the record, and what the start,
// the end and the guard process do with a record left behind. Pure data and
// functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace core {

// The profile section of the local relay: its port (a DWORD the relay keeps)
// and the record.
inline constexpr std::string_view kLocalRelaySection = "Local Relay";
inline constexpr std::string_view kLocalRelayPortValue = "Port";
inline constexpr std::string_view kRelayRecordValue = "Setting Before Relay";

// A registry value as it was stored: its type and its bytes.
struct SavedRegistryValue {
  uint32_t type = 0;
  std::string bytes;
  bool operator==(const SavedRegistryValue&) const = default;
};

// One connection's own proxy settings (an empty name is the LAN).
struct SavedConnection {
  std::string name;
  uint32_t flags = 1;
  std::string server;
  std::string bypass;
  bool operator==(const SavedConnection&) const = default;
};

// The whole setting: "ProxyServer" and "ProxyEnable" exactly as stored
// (nullopt: the value was missing) and every connection that could be read.
struct SavedProxySetting {
  std::optional<SavedRegistryValue> proxy_server;
  std::optional<SavedRegistryValue> proxy_enable;
  std::vector<SavedConnection> connections;
  bool operator==(const SavedProxySetting&) const = default;
};

struct RelayRecord {
  uint16_t port = 0;  // the relay port the system proxy was pointed at
  SavedProxySetting before;
  bool operator==(const RelayRecord&) const = default;
};

// The record as one line of ASCII text, checksummed.
std::string EncodeRelayRecord(const RelayRecord& record);
// Reads a record back. A damaged text (cut short, edited, another format)
// gives false and says why in `error`; `record` is then left as it was.
bool DecodeRelayRecord(std::string_view text, RelayRecord* record, std::string* error);

// The relay port as the profile keeps it: 1..65535; anything else is 0 (no relay).
uint16_t RelayPortOf(int32_t profile_value);

// Whether the "ProxyServer" and "ProxyEnable" texts (ProxyEnable as decimal
// text) send the system's traffic to the relay on `port`: the proxy is on and
// every entry of the server text ("host:port", or "kind=host:port" entries
// separated by ';') names 127.0.0.1 or localhost with that port. False for
// port 0. Allocates nothing (a crashing process calls it).
bool PointsAtRelay(std::string_view proxy_server, std::string_view proxy_enable, uint16_t port);

// What a write of the system proxy by the program does to the record.
enum class RecordStep {
  kKeep,      // nothing to do
  kWrite,     // the setting now points at the relay and no usable record is
              // there: record the setting from before this write
  kMovePort,  // a record is there, taken for another port: keep its setting,
              // name the new port
  kClear,     // the setting no longer points at the relay: drop the record
};
RecordStep RecordStepAfterWrite(std::string_view proxy_server, std::string_view proxy_enable,
                                uint16_t relay_port, std::string_view record_text);

// What to do with a record found at the start, at the end or by the guard.
enum class RepairStep {
  kNone,     // no record
  kRefuse,   // the record is damaged: nothing is written, `error` says why
  kForget,   // the setting was changed since (by the user or another program):
             // it stays, only the record goes
  kRestore,  // the setting still points at the relay: put `record.before`
             // back, then drop the record
};
struct RelayRepairPlan {
  RepairStep step = RepairStep::kNone;
  RelayRecord record;
  std::string error;
};
RelayRepairPlan PlanRelayRepair(std::string_view record_text, std::string_view proxy_server,
                                std::string_view proxy_enable);

// Shown at start when a damaged record keeps the program from putting the
// setting back; the decoder's reason follows.
inline constexpr std::string_view kRelayRecordDamaged =
    "本地中转使用前的代理设置记录已损坏，未能恢复系统代理，请在Internet选项中检查代理设置";

}  // namespace core
