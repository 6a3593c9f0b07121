#include "core/sysproxy/relay_record.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace core {
namespace {

RelayRecord FullRecord() {
  RelayRecord record;
  record.port = 8899;
  // A per-protocol server text, a DWORD with its zero bytes, a bypass list
  // with blanks and the names of a dial-up and a VPN entry.
  record.before.proxy_server = SavedRegistryValue{1, "http=1.2.3.4:80;ftp=5.6.7.8:21"};
  record.before.proxy_enable = SavedRegistryValue{4, std::string("\x01\0\0\0", 4)};
  record.before.connections = {
      {"", 0x1 | 0x4 | 0x8, "http=1.2.3.4:80;ftp=5.6.7.8:21", "<local>; *.lan"},
      {"宽带连接", 0x1, "", ""},
      {"Office VPN x 2", 0x1 | 0x2 | 0x4, "gw:8080", "10.*"},
  };
  return record;
}

TEST(RelayRecordTest, EveryRecordReadsBackAsWritten) {
  RelayRecord missing;  // neither value existed, no connection could be read
  missing.port = 1;
  RelayRecord binary;
  binary.port = 65535;
  binary.before.proxy_server = SavedRegistryValue{3, std::string("a b\0;\xff", 6)};
  binary.before.proxy_enable = SavedRegistryValue{1, ""};
  for (const RelayRecord& record : {FullRecord(), missing, binary}) {
    std::string text = EncodeRelayRecord(record);
    EXPECT_EQ(text.find_first_of("\r\n\t"), std::string::npos) << text;
    RelayRecord back;
    std::string error;
    ASSERT_TRUE(DecodeRelayRecord(text, &back, &error)) << text << ": " << error;
    EXPECT_TRUE(back == record) << text;
  }
}

// A text as the encoder would sign it (FNV-1a of the body), for records that
// are well formed as far as the checksum goes and damaged inside.
std::string Signed(const std::string& body) {
  uint32_t hash = 2166136261u;
  for (unsigned char c : body) hash = (hash ^ c) * 16777619u;
  char sum[9];
  std::snprintf(sum, sizeof(sum), "%08x", unsigned(hash));
  return body + " " + sum;
}

TEST(RelayRecordTest, ADamagedRecordIsRefusedWithItsReason) {
  struct Case {
    std::string text;
    const char* error;
  };
  const std::string good = EncodeRelayRecord(FullRecord());
  const Case cases[] = {
      {"", "not a record of this program"},
      {"RM2" + good.substr(3), "not a record of this program"},
      {good.substr(0, good.size() - 1), "checksum does not match"},
      {good + " ", "checksum does not match"},
      {Signed("RM1 0 - - 0"), "bad port"},
      {Signed("RM1 65536 - - 0"), "bad port"},
      {Signed("RM1 +80 - - 0"), "bad port"},
      {Signed("RM1 80 - -"), "too few fields"},
      {Signed("RM1 80 1:abc - 0"), "bad registry value"},
      {Signed("RM1 80 1:AB - 0"), "bad registry value"},
      {Signed("RM1 80 - 4 0"), "bad registry value"},
      {Signed("RM1 80 - - 1"), "connection count does not match"},
      {Signed("RM1 80 - - 0 1 x x x"), "connection count does not match"},
      {Signed("RM1 80 - - 99999999999 1 x x x"), "connection count does not match"},
      {Signed("RM1 80 - - 1 1 x 41 x"), "bad connection 1"},
      {Signed("RM1 80 - - 1 -1 x x x"), "bad connection 1"},
      {Signed("RM1 80 - - 2 1 x x x 1 x x x0"), "bad connection 2"},
  };
  for (const Case& c : cases) {
    RelayRecord record = FullRecord();
    std::string error;
    EXPECT_FALSE(DecodeRelayRecord(c.text, &record, &error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
    EXPECT_TRUE(record == FullRecord()) << "changed by " << c.text;
  }
  // Any one character changed, and the text cut anywhere, is caught.
  for (size_t i = 0; i < good.size(); ++i) {
    std::string changed = good;
    changed[i] = changed[i] == '1' ? '2' : '1';
    RelayRecord record;
    std::string error;
    EXPECT_FALSE(DecodeRelayRecord(changed, &record, &error)) << changed;
    EXPECT_FALSE(DecodeRelayRecord(good.substr(0, i), &record, &error)) << i;
  }
}

TEST(RelayRecordTest, TheRelayPortComesFromTheProfileOnlyWhenItIsOne) {
  const std::pair<int32_t, uint16_t> cases[] = {
      {-1, 0}, {0, 0}, {1, 1}, {8899, 8899}, {65535, 65535}, {65536, 0}, {INT32_MIN, 0}};
  for (auto [value, port] : cases) EXPECT_EQ(RelayPortOf(value), port) << value;
}

TEST(RelayRecordTest, WhatCountsAsPointingAtTheRelay) {
  struct Case {
    const char* server;
    const char* enable;
    uint16_t port;
    bool points;
  };
  const Case cases[] = {
      {"127.0.0.1:8899", "1", 8899, true},
      {" 127.0.0.1:8899 ", " 1 ", 8899, true},
      {"localhost:8899", "1", 8899, true},
      {"LocalHost:8899", "257", 8899, true},
      {"http://127.0.0.1:8899", "1", 8899, true},
      {"http=127.0.0.1:8899;https=127.0.0.1:8899", "1", 8899, true},
      {"http=127.0.0.1:8899;", "1", 8899, true},
      {"socks=127.0.0.1:8899", "1", 8899, true},
      // The proxy is off, or something else is in force.
      {"127.0.0.1:8899", "0", 8899, false},
      {"127.0.0.1:8899", "", 8899, false},
      {"127.0.0.1:8899", "yes", 8899, false},
      {"127.0.0.1:8899", "-1", 8899, false},
      {"", "1", 8899, false},
      {";", "1", 8899, false},
      {"127.0.0.1:8898", "1", 8899, false},
      {"127.0.0.1:88990", "1", 8899, false},
      {"127.0.0.1:+8899", "1", 8899, false},
      {"127.0.0.1:8899x", "1", 8899, false},
      {"127.0.0.1", "1", 8899, false},
      {"127.0.0.2:8899", "1", 8899, false},
      {"10.0.0.1:8899", "1", 8899, false},
      {"[::1]:8899", "1", 8899, false},
      {"http=127.0.0.1:8899;https=10.0.0.1:3128", "1", 8899, false},
      {"127.0.0.1:8899", "1", 0, false},
      {"127.0.0.1:0", "1", 0, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PointsAtRelay(c.server, c.enable, c.port), c.points)
        << c.server << " / " << c.enable << " / " << c.port;
  }
}

TEST(RelayRecordTest, WhatASwitchDoesToTheRecord) {
  RelayRecord other_port = FullRecord();
  other_port.port = 7000;
  const std::string here = EncodeRelayRecord(FullRecord());  // port 8899
  const std::string there = EncodeRelayRecord(other_port);
  struct Case {
    const char* name;
    const char* server;
    const char* enable;
    uint16_t relay_port;
    std::string record;
    RecordStep step;
  };
  const Case cases[] = {
      {"first switch to the relay", "127.0.0.1:8899", "1", 8899, "", RecordStep::kWrite},
      {"the relay again: the first record stays", "127.0.0.1:8899", "1", 8899, here,
       RecordStep::kKeep},
      {"the relay moved to another port", "127.0.0.1:8899", "1", 8899, there,
       RecordStep::kMovePort},
      {"a damaged record is replaced", "127.0.0.1:8899", "1", 8899, "RM1 garbage",
       RecordStep::kWrite},
      {"another proxy", "10.0.0.1:3128", "1", 8899, here, RecordStep::kClear},
      {"direct", "127.0.0.1:8899", "0", 8899, here, RecordStep::kClear},
      {"a damaged record goes too", "10.0.0.1:3128", "1", 8899, "junk", RecordStep::kClear},
      {"no relay configured", "127.0.0.1:8899", "1", 0, here, RecordStep::kClear},
      {"nothing to record or clear", "10.0.0.1:3128", "1", 8899, "", RecordStep::kKeep},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RecordStepAfterWrite(c.server, c.enable, c.relay_port, c.record), c.step) << c.name;
  }
}

TEST(RelayRecordTest, WhatTheStartTheEndAndTheGuardDoWithARecord) {
  const std::string record = EncodeRelayRecord(FullRecord());  // port 8899
  struct Case {
    const char* name;
    std::string record;
    const char* server;
    const char* enable;
    RepairStep step;
  };
  const Case cases[] = {
      {"no record", "", "127.0.0.1:8899", "1", RepairStep::kNone},
      {"left pointing at the relay", record, "127.0.0.1:8899", "1", RepairStep::kRestore},
      {"the user chose another proxy", record, "10.0.0.1:3128", "1", RepairStep::kForget},
      {"the user turned the proxy off", record, "127.0.0.1:8899", "0", RepairStep::kForget},
      {"another port of this machine", record, "127.0.0.1:9000", "1", RepairStep::kForget},
      {"damaged", record.substr(0, 20), "127.0.0.1:8899", "1", RepairStep::kRefuse},
  };
  for (const Case& c : cases) {
    RelayRepairPlan plan = PlanRelayRepair(c.record, c.server, c.enable);
    EXPECT_EQ(plan.step, c.step) << c.name;
    EXPECT_EQ(plan.error.empty(), c.step != RepairStep::kRefuse) << c.name;
    if (c.step == RepairStep::kRestore) {
      EXPECT_TRUE(plan.record == FullRecord()) << c.name;
    }
  }
}

}  // namespace
}  // namespace core
