#include "win/app/relay_proxy_guard.h"

#include <gtest/gtest.h>
#include <wininet.h>

#include <cstdlib>
#include <map>
#include <string>

#include "core/base/profile_store.h"
#include "core/sysproxy/relay_record.h"
#include "win/platform/registry.h"
#include "win/platform/registry_profile_store.h"
#include "win/platform/relay_crash_restore.h"
#include "win/platform/system_proxy.h"
#include "win/platform/wide_text.h"
#include "win/res/resource.h"
#include "win/testing/app_fixture.h"
#include "win/testing/recording_internet_settings.h"
#include "win/testing/relay_guard_child.h"

namespace win {
namespace {

constexpr DWORD kDirect = PROXY_TYPE_DIRECT;
constexpr DWORD kAutoDetect = PROXY_TYPE_AUTO_DETECT;
constexpr DWORD kScript = PROXY_TYPE_AUTO_PROXY_URL;
constexpr const char* kRelay = "127.0.0.1:8899";

// A guard on a key of the tests, WinInet recorded (Wine would forget the
// auto-detect and script flags), and a guard process that is an event: not
// set while the "process" runs.
class RelayGuardTest : public testing::Test {
 protected:
  void SetUp() override {
    place_.key =
        "Software\\Quillworks\\RelaymothTest\\RelayGuard_" + std::to_string(GetCurrentProcessId());
    DeleteRegistryTree(HKEY_CURRENT_USER, place_.key);
    place_.wininet = &wininet_;
    wininet_.entries = {L"Office VPN"};
    wininet_.settings[L""] = {kDirect | kAutoDetect, L"http=1.2.3.4:80;ftp=5.6.7.8:21", L"<local>"};
    wininet_.settings[L"Office VPN"] = {kDirect | PROXY_TYPE_PROXY | kScript, L"gw:8080", L"10.*"};
    EXPECT_TRUE(WriteRegistryString(place_.root, place_.key, "ProxyServer",
                                    "http=1.2.3.4:80;ftp=5.6.7.8:21"));
    EXPECT_TRUE(WriteRegistryDword(place_.root, place_.key, "ProxyEnable", 0));
    EXPECT_TRUE(profile_.WriteInt(core::kLocalRelaySection, core::kLocalRelayPortValue, 8899));
  }
  void TearDown() override { DeleteRegistryTree(HKEY_CURRENT_USER, place_.key); }

  RelayProxyGuard MakeGuard(bool crash_restore = false) {
    return RelayProxyGuard(
        profile_, place_,
        [this] {
          ++launches_;
          // A guard just started runs, whatever became of the one before.
          ResetEvent(guard_alive_.get());
          HANDLE copy = nullptr;
          DuplicateHandle(GetCurrentProcess(), guard_alive_.get(), GetCurrentProcess(), &copy, 0,
                          FALSE, DUPLICATE_SAME_ACCESS);
          return UniqueKernelHandle(copy);
        },
        crash_restore);
  }

  // A switch as the Switcher makes it: a setting that is to name the relay
  // gets its record and guard first.
  void Switch(RelayProxyGuard& guard, const char* text) {
    uint16_t port = Port();
    if (core::PointsAtRelay(text, "1", port)) {
      ASSERT_TRUE(guard.BeforeRelayWrite(port)) << text;
    }
    ASSERT_TRUE(SetSystemProxy(text, place_).ok()) << text;
    ASSERT_TRUE(guard.AfterSystemProxyWrite()) << text;
  }
  uint16_t Port() {
    return core::RelayPortOf(
        profile_.ReadInt(core::kLocalRelaySection, core::kLocalRelayPortValue, 0));
  }

  std::string Record() {
    return profile_.ReadText(core::kLocalRelaySection, core::kRelayRecordValue, "");
  }
  std::string Server() const { return ReadRegistryText(place_.root, place_.key, "ProxyServer"); }
  std::string Enable() const { return ReadRegistryText(place_.root, place_.key, "ProxyEnable"); }

  SystemProxyPlace place_;
  RecordingInternetSettings wininet_;
  core::MemoryProfileStore profile_;
  UniqueKernelHandle guard_alive_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  int launches_ = 0;
};

TEST_F(RelayGuardTest, TheRecordHoldsTheSettingFromJustBeforeTheRelayTookIt) {
  RelayProxyGuard guard = MakeGuard();
  guard.RepairAtStart();
  Switch(guard, "10.0.0.1:3128");
  EXPECT_EQ(Record(), "");
  EXPECT_EQ(launches_, 0);

  Switch(guard, kRelay);
  core::RelayRecord record;
  std::string error;
  ASSERT_TRUE(core::DecodeRelayRecord(Record(), &record, &error)) << error;
  EXPECT_EQ(record.port, 8899);
  // The proxy switched to before the relay, each connection with its own
  // flags: auto-detect and the script stay with it.
  const std::wstring server = L"10.0.0.1:3128";
  EXPECT_EQ(record.before.proxy_server->bytes,
            std::string(reinterpret_cast<const char*>(server.c_str()), (server.size() + 1) * 2));
  EXPECT_EQ(record.before.connections,
            (std::vector<core::SavedConnection>{
                {"", kDirect | PROXY_TYPE_PROXY | kAutoDetect, "10.0.0.1:3128", "<local>"},
                {"Office VPN", kDirect | PROXY_TYPE_PROXY | kScript, "10.0.0.1:3128", "10.*"}}));
  EXPECT_EQ(launches_, 1);

  // The relay again (another row through it): the record stays, one guard.
  const std::string first = Record();
  Switch(guard, "127.0.0.1:8899@HTTP");
  EXPECT_EQ(Record(), first);
  EXPECT_EQ(launches_, 1);
  // The guard is gone (killed by someone): the next relay write starts another.
  SetEvent(guard_alive_.get());
  Switch(guard, kRelay);
  EXPECT_EQ(launches_, 2);

  // The relay moved to another port: the same setting, the new port.
  EXPECT_TRUE(profile_.WriteInt(core::kLocalRelaySection, core::kLocalRelayPortValue, 9000));
  Switch(guard, "127.0.0.1:9000");
  core::RelayRecord moved;
  ASSERT_TRUE(core::DecodeRelayRecord(Record(), &moved, &error)) << error;
  EXPECT_EQ(moved.port, 9000);
  EXPECT_TRUE(moved.before == record.before);

  Switch(guard, "");  // "不使用ip"
  EXPECT_EQ(Record(), "");
}

TEST_F(RelayGuardTest, WithoutASettingFromBeforeNothingIsRecorded) {
  RelayProxyGuard guard = MakeGuard();  // the start did not run
  Switch(guard, kRelay);
  EXPECT_EQ(Record(), "");
  EXPECT_EQ(launches_, 0);
}

TEST_F(RelayGuardTest, TheEndPutsBackOnlyASettingStillOnTheRelay) {
  struct Case {
    const char* name;
    const char* changed_to;  // what the user set meanwhile; null: nothing
    bool damage_record;
    core::RepairStep step;
    const char* server_after;
    bool record_after;
  };
  const Case cases[] = {
      {"left on the relay", nullptr, false, core::RepairStep::kRestore, "10.0.0.1:3128", false},
      {"changed by the user", "10.9.9.9:80", false, core::RepairStep::kForget, "10.9.9.9:80",
       false},
      {"damaged record", nullptr, true, core::RepairStep::kRefuse, kRelay, true},
  };
  for (const Case& c : cases) {
    SetUp();
    RelayProxyGuard guard = MakeGuard();
    guard.RepairAtStart();
    Switch(guard, "10.0.0.1:3128");
    std::map<std::wstring, ConnectionProxy> before_relay = wininet_.settings;
    Switch(guard, kRelay);
    if (c.changed_to) {
      EXPECT_TRUE(WriteRegistryString(place_.root, place_.key, "ProxyServer", c.changed_to));
    }
    if (c.damage_record) {
      EXPECT_TRUE(
          profile_.WriteText(core::kLocalRelaySection, core::kRelayRecordValue, Record() + "0"));
    }
    std::map<std::wstring, ConnectionProxy> at_exit = wininet_.settings;

    RelayRepair repair = RepairRelaySetting(profile_, place_);
    EXPECT_EQ(repair.step, c.step) << c.name;
    EXPECT_EQ(repair.error.empty(), c.step != core::RepairStep::kRefuse) << c.name;
    EXPECT_EQ(Server(), c.server_after) << c.name;
    EXPECT_EQ(Enable(), "1") << c.name;
    EXPECT_EQ(Record().empty(), !c.record_after) << c.name;
    EXPECT_TRUE(wininet_.settings ==
                (c.step == core::RepairStep::kRestore ? before_relay : at_exit))
        << c.name;
  }
}

// A kill anywhere in a switch to the relay, with the guard process (or the
// next start) repairing as it does after one: the setting from before comes
// back, or was never left. A record that cannot be written keeps the switch
// from being made at all.
TEST_F(RelayGuardTest, AKillAnywhereInASwitchToTheRelayLeavesTheSettingFromBefore) {
  enum Stop { kBeforeRecord, kBeforeSetting, kBeforeAfterWrite, kRecordRefused };
  for (Stop stop : {kBeforeRecord, kBeforeSetting, kBeforeAfterWrite, kRecordRefused}) {
    SetUp();
    launches_ = 0;
    RelayProxyGuard guard = MakeGuard();
    guard.RepairAtStart();
    Switch(guard, "10.0.0.1:3128");
    profile_.set_read_only(stop == kRecordRefused);
    if (stop != kBeforeRecord) {
      core::WriteStatus recorded = guard.BeforeRelayWrite(8899);
      EXPECT_EQ(recorded.ok(), stop != kRecordRefused) << stop;
      // The guard runs before the setting can name the relay, or not at all.
      EXPECT_EQ(launches_, stop == kRecordRefused ? 0 : 1) << stop;
      if (stop == kRecordRefused) {
        EXPECT_NE(recorded.reason(), "") << stop;
      }
    }
    if (stop == kBeforeAfterWrite) {
      ASSERT_TRUE(SetSystemProxy(kRelay, place_).ok());
    }
    profile_.set_read_only(false);
    RepairRelaySetting(profile_, place_);
    EXPECT_EQ(Server(), "10.0.0.1:3128") << stop;
    EXPECT_EQ(Enable(), "1") << stop;
    EXPECT_EQ(Record(), "") << stop;
  }
}

// The handler runs in a crashing process; here it is called as the handler
// would call it.
TEST_F(RelayGuardTest, TheCrashHandlerPutsBackOnlyWhatItWasArmedWith) {
  struct Case {
    const char* name;
    const char* after_relay;  // the program's next switch; null: none
    const char* changed_to;   // what the user set meanwhile; null: nothing
    bool restored;
  };
  const Case cases[] = {
      {"on the relay", nullptr, nullptr, true},
      {"changed by the user", nullptr, "10.9.9.9:80", false},
      {"switched away from the relay", "10.0.0.2:3128", nullptr, false},
  };
  for (const Case& c : cases) {
    SetUp();
    RelayProxyGuard guard = MakeGuard(true);
    guard.RepairAtStart();
    Switch(guard, "10.0.0.1:3128");
    std::map<std::wstring, ConnectionProxy> before_relay = wininet_.settings;
    Switch(guard, kRelay);
    if (c.after_relay) Switch(guard, c.after_relay);
    if (c.changed_to) {
      EXPECT_TRUE(WriteRegistryString(place_.root, place_.key, "ProxyServer", c.changed_to));
    }
    std::string server_before = Server();
    std::map<std::wstring, ConnectionProxy> settings_before = wininet_.settings;

    EXPECT_EQ(RunCrashRestore(), c.restored) << c.name;
    if (c.restored) {
      EXPECT_EQ(Server(), "10.0.0.1:3128") << c.name;
      EXPECT_TRUE(wininet_.settings == before_relay) << c.name;
      EXPECT_EQ(wininet_.settings[L"Office VPN"].flags, kDirect | PROXY_TYPE_PROXY | kScript);
    } else {
      EXPECT_EQ(Server(), server_before) << c.name;
      EXPECT_TRUE(wininet_.settings == settings_before) << c.name;
    }
    EXPECT_EQ(Enable(), "1") << c.name;
    // Once only.
    EXPECT_TRUE(WriteRegistryString(place_.root, place_.key, "ProxyServer", kRelay));
    EXPECT_FALSE(RunCrashRestore()) << c.name;
  }
  // A guard that is gone has disarmed the handler.
  {
    RelayProxyGuard guard = MakeGuard(true);
    guard.RepairAtStart();
    Switch(guard, kRelay);
  }
  EXPECT_FALSE(RunCrashRestore());
}

// The start repairs a setting left on the relay before the list reads it,
// every switch of the Switcher reaches the guard, and closing puts it back.
class RelayGuardAppTest : public AppWindowTest {
 protected:
  void PrepareRecord(std::string record_text) {
    EXPECT_TRUE(profile_.WriteInt(core::kLocalRelaySection, core::kLocalRelayPortValue, 8899));
    EXPECT_TRUE(profile_.WriteText(core::kLocalRelaySection, core::kRelayRecordValue, record_text));
  }
  static std::string RecordOf(const std::wstring& server, DWORD enable) {
    core::RelayRecord record;
    record.port = 8899;
    record.before.proxy_server = core::SavedRegistryValue{
        REG_SZ,
        std::string(reinterpret_cast<const char*>(server.c_str()), (server.size() + 1) * 2)};
    record.before.proxy_enable =
        core::SavedRegistryValue{REG_DWORD, std::string(reinterpret_cast<const char*>(&enable), 4)};
    return core::EncodeRelayRecord(record);
  }
  std::string Record() {
    return profile_.ReadText(core::kLocalRelaySection, core::kRelayRecordValue, "");
  }
};

TEST_F(RelayGuardAppTest, ASettingLeftOnTheRelayIsRepairedBeforeTheListReadsIt) {
  PrepareRecord(RecordOf(L"10.0.0.1:3128", 1));
  FloatingWindow& window = Start(kRelay, 1);
  EXPECT_EQ(ProxyValue("ProxyServer"), "10.0.0.1:3128");
  EXPECT_EQ(switcher_->current_proxy(), "10.0.0.1:3128");
  ASSERT_GE(switcher_->list().size(), 1u);
  EXPECT_EQ(switcher_->list().RowFullLine(0), "10.0.0.1:3128");
  EXPECT_EQ(Record(), "");
  EXPECT_TRUE(prompt_.shown.empty());

  // Through the Switcher, for a row the relay stands in for (the relay's own
  // address is refused): it gets its record, the close puts it back.
  UseRowOf(*switcher_, "10.0.0.3:1080@SOCKS5");
  EXPECT_NE(Record(), "");
  SendMessageW(window.hwnd(), WM_CLOSE, 0, 0);
  EXPECT_EQ(ProxyValue("ProxyServer"), "10.0.0.1:3128");
  EXPECT_EQ(Record(), "");
}

TEST_F(RelayGuardAppTest, TheExitCommandPutsBackTheUsersOwnSettingAndDropsTheRecord) {
  FloatingWindow& window = Start("10.0.0.1:3128", 1);
  EXPECT_TRUE(profile_.WriteInt(core::kLocalRelaySection, core::kLocalRelayPortValue, 8899));
  UseRowOf(*switcher_, kRelay);
  EXPECT_NE(Record(), "");
  SendMessageW(window.hwnd(), WM_COMMAND, IDM_QUIT, 0);
  EXPECT_EQ(exit_codes_, std::vector<int>{1});
  EXPECT_EQ(ProxyValue("ProxyServer"), "10.0.0.1:3128");
  EXPECT_EQ(Record(), "");
}

// Shown only when the setting it was kept for still points at the relay;
// either way nothing is written and the record stays.
TEST_F(RelayGuardAppTest, ADamagedRecordIsRefusedAndShownWhenTheRelayIsStillSet) {
  std::string damaged = RecordOf(L"10.0.0.1:3128", 1);
  damaged.back() = damaged.back() == '0' ? '1' : '0';
  for (std::string server : {kRelay, "10.9.9.9:80"}) {
    TearDown();
    SetUp();
    PrepareRecord(damaged);
    MakeServices(server, 1);
    EXPECT_EQ(ProxyValue("ProxyServer"), server);
    EXPECT_EQ(Record(), damaged);
    if (server != kRelay) {
      EXPECT_TRUE(prompt_.shown.empty()) << server;
      continue;
    }
    ASSERT_EQ(prompt_.shown.size(), 1u);
    EXPECT_EQ(prompt_.shown[0].text.rfind(core::kRelayRecordDamaged, 0), 0u)
        << prompt_.shown[0].text;
    EXPECT_NE(prompt_.shown[0].text.find("checksum"), std::string::npos) << prompt_.shown[0].text;
    prompt_.shown.clear();
  }
}

// The real guard process: the test program started again as a child that
// points the setting at the relay and arms a guard, then killed, or ended as
// the program ends.
TEST(RelayGuardProcessTest, TheGuardPutsTheSettingBackWhenTheProgramIsKilled) {
  const std::string suffix = std::to_string(GetCurrentProcessId());
  const std::string proxy_key = "Software\\Quillworks\\RelaymothTest\\GuardProxy_" + suffix;
  const std::string profile_key = "Software\\Quillworks\\RelaymothTest\\GuardProfile_" + suffix;
  for (bool kill : {true, false}) {
    DeleteRegistryTree(HKEY_CURRENT_USER, proxy_key);
    DeleteRegistryTree(HKEY_CURRENT_USER, profile_key);
    RegistryProfileStore profile(HKEY_CURRENT_USER, profile_key);
    EXPECT_TRUE(profile.WriteInt(core::kLocalRelaySection, core::kLocalRelayPortValue, 8899));
    EXPECT_TRUE(WriteRegistryString(HKEY_CURRENT_USER, proxy_key, "ProxyServer", "10.0.0.1:3128"));
    EXPECT_TRUE(WriteRegistryDword(HKEY_CURRENT_USER, proxy_key, "ProxyEnable", 1));

    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE out_read = nullptr, out_write = nullptr, in_read = nullptr, in_write = nullptr;
    ASSERT_TRUE(CreatePipe(&out_read, &out_write, &inherit, 0));
    ASSERT_TRUE(CreatePipe(&in_read, &in_write, &inherit, 0));
    UniqueKernelHandle child_out(out_read), child_in(in_write);
    SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(in_write, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in_read;
    startup.hStdOutput = out_write;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::wstring line =
        L"\"" + TestProgramPath() + L"\" " +
        Utf8ToWide(std::string(kRelayGuardChildSwitch) + " " + proxy_key + " " + profile_key);
    PROCESS_INFORMATION info{};
    BOOL started = CreateProcessW(TestProgramPath().c_str(), line.data(), nullptr, nullptr, TRUE, 0,
                                  nullptr, nullptr, &startup, &info);
    CloseHandle(out_write);
    CloseHandle(in_read);
    ASSERT_TRUE(started) << GetLastError();
    UniqueKernelHandle child(info.hProcess);
    CloseHandle(info.hThread);

    // The child prints its guard's id once the guard runs.
    char text[32] = {};
    DWORD got = 0;
    ReadFile(child_out.get(), text, sizeof(text) - 1, &got, nullptr);
    DWORD guard_id = DWORD(std::strtoul(text, nullptr, 10));
    ASSERT_NE(guard_id, 0u) << "child said: " << text;
    UniqueKernelHandle guard(
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, guard_id));
    ASSERT_TRUE(guard);
    EXPECT_EQ(ReadRegistryText(HKEY_CURRENT_USER, proxy_key, "ProxyServer"), kRelay);
    EXPECT_NE(profile.ReadText(core::kLocalRelaySection, core::kRelayRecordValue, ""), "");

    if (kill) {
      TerminateProcess(child.get(), 9);
    } else {
      child_in.reset();  // the end of its input: it ends as the program does
    }
    // Bounded waits: a guard that never ends fails here instead of hanging.
    EXPECT_EQ(WaitForSingleObject(child.get(), 20000), WAIT_OBJECT_0);
    ASSERT_EQ(WaitForSingleObject(guard.get(), 20000), WAIT_OBJECT_0) << "kill " << kill;
    DWORD code = 99;
    GetExitCodeProcess(guard.get(), &code);
    EXPECT_EQ(code, 0u) << "kill " << kill;
    EXPECT_EQ(ReadRegistryText(HKEY_CURRENT_USER, proxy_key, "ProxyServer"), "10.0.0.1:3128")
        << "kill " << kill;
    EXPECT_EQ(ReadRegistryText(HKEY_CURRENT_USER, proxy_key, "ProxyEnable"), "1");
    EXPECT_EQ(profile.ReadText(core::kLocalRelaySection, core::kRelayRecordValue, ""), "");
  }
  DeleteRegistryTree(HKEY_CURRENT_USER, proxy_key);
  DeleteRegistryTree(HKEY_CURRENT_USER, profile_key);
}

}  // namespace
}  // namespace win
