// Fuzzes the reader of the record of the setting from before the local relay
// (a profile value anyone can edit) and the test of a setting pointing at the
// relay. The first input byte picks whether the rest is read as it is or is
// first given a matching checksum, so that the fuzzer reaches the fields
// behind it. A record read back must write out and read back the same; a
// refusal must carry a reason.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/sysproxy/relay_record.h"

namespace {

std::string Signed(std::string_view body) {
  uint32_t hash = 2166136261u;
  for (unsigned char c : body) hash = (hash ^ c) * 16777619u;
  char sum[9];
  std::snprintf(sum, sizeof(sum), "%08x", unsigned(hash));
  return std::string(body) + " " + sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string text = (data[0] & 1) ? Signed(rest) : std::string(rest);
  core::RelayRecord record;
  std::string error;
  if (core::DecodeRelayRecord(text, &record, &error)) {
    core::RelayRecord again;
    if (!core::DecodeRelayRecord(core::EncodeRelayRecord(record), &again, &error) ||
        !(again == record)) {
      std::abort();
    }
  } else if (error.empty()) {
    std::abort();
  }
  // The same bytes as a setting: "ProxyServer" up to the first line break,
  // "ProxyEnable" after it.
  size_t line = rest.find('\n');
  std::string_view server = rest.substr(0, line);
  std::string_view enable = line == std::string_view::npos ? "1" : rest.substr(line + 1);
  core::PointsAtRelay(server, enable, uint16_t(data[0] * 257));
  core::PlanRelayRepair(text, server, enable);
  return 0;
}
