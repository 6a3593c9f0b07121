#include "win/platform/system_proxy.h"

#include <gtest/gtest.h>
#include <wininet.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/base/text.h"
#include "win/platform/registry.h"
#include "win/platform/wide_text.h"
#include "win/testing/recording_internet_settings.h"

namespace win {
namespace {

class SystemProxyTest : public testing::Test {
 protected:
  void SetUp() override {
    place_.key = "Software\\Quillworks\\RelaymothTest\\InternetSettings_" +
                 std::to_string(GetCurrentProcessId());
    DeleteRegistryTree(HKEY_CURRENT_USER, place_.key);
  }
  void TearDown() override { DeleteRegistryTree(HKEY_CURRENT_USER, place_.key); }

  std::string Server() const { return ReadRegistryText(place_.root, place_.key, "ProxyServer"); }
  std::string Enable() const { return ReadRegistryText(place_.root, place_.key, "ProxyEnable"); }

  SystemProxyPlace place_;
};

// The text forms themselves are the core's; here: that they reach both values.
TEST_F(SystemProxyTest, WritesThePlannedValuesAndClears) {
  SystemProxyApplied applied = SetSystemProxy("  10.1.2.3:1080@SOCKS5 ", place_);
  EXPECT_TRUE(applied.ok()) << applied.written.ToString();
  EXPECT_EQ(applied.change.current_proxy, "10.1.2.3:1080@SOCKS5");
  EXPECT_EQ(Server(), "socks=10.1.2.3:1080");
  EXPECT_EQ(Enable(), "1");

  applied = SetSystemProxy("   ", place_);
  EXPECT_TRUE(applied.ok());
  EXPECT_EQ(applied.change.current_proxy, "");
  EXPECT_EQ(Server(), "socks=10.1.2.3:1080");  // the server text stays for the user
  EXPECT_EQ(Enable(), "0");
}

TEST_F(SystemProxyTest, RefusedTextChangesNothingAndExplains) {
  SetSystemProxy("10.1.2.3:8080", place_);
  SystemProxyApplied applied = SetSystemProxy("10.9.9.9", place_);
  EXPECT_FALSE(applied.ok());
  EXPECT_FALSE(applied.change.accepted);
  EXPECT_EQ(applied.change.error_message, "[10.9.9.9:@]是一个无效的代理服务器项目");
  EXPECT_EQ(Server(), "10.1.2.3:8080");
  EXPECT_EQ(Enable(), "1");
}

// A key that cannot take the values (a lasting key under a volatile one is
// refused by the registry): the switch is a failure, with the system's reason.
TEST_F(SystemProxyTest, ARefusedRegistryWriteIsReported) {
  std::string parent = place_.key + "_volatile";
  HKEY raw = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, Utf8ToWide(parent).c_str(), 0, nullptr,
                            REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &raw, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(raw);
  SystemProxyPlace refused = place_;
  refused.key = parent + "\\Internet Settings";
  SystemProxyApplied applied = SetSystemProxy("10.1.2.3:8080", refused);
  DeleteRegistryTree(HKEY_CURRENT_USER, parent);
  EXPECT_TRUE(applied.change.accepted);
  EXPECT_FALSE(applied.ok());
  EXPECT_NE(applied.written.code(), DWORD(ERROR_SUCCESS));
  EXPECT_EQ(applied.written.context(), "writing ProxyServer");
  EXPECT_NE(applied.written.ToString().find("(" + std::to_string(applied.written.code()) + ")"),
            std::string::npos);
}

TEST_F(SystemProxyTest, ReadBackTakesTheFirstEntryAndTheEnableFlag) {
  struct Case {
    const char* server;
    DWORD enable;
    const char* line;
    const char* current;
  };
  const Case cases[] = {
      {"http=1.2.3.4:80;ftp=5.6.7.8:21", 1, "1.2.3.4:80@HTTP", "1.2.3.4:80@HTTP"},
      {"1.2.3.4:80", 0, "1.2.3.4:80", ""},
      {"socks=10.1.2.3:1080", 1, "10.1.2.3:1080@SOCKS", "10.1.2.3:1080@SOCKS"},
      {"", 1, "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(WriteRegistryString(place_.root, place_.key, "ProxyServer", c.server));
    EXPECT_TRUE(WriteRegistryDword(place_.root, place_.key, "ProxyEnable", c.enable));
    core::SystemProxyReadBack back = ReadSystemProxy(place_);
    EXPECT_EQ(back.list_line, c.line) << c.server;
    EXPECT_EQ(back.current_proxy, c.current) << c.server;
  }
}

TEST_F(SystemProxyTest, ReadBackSurvivesValuesOfTheWrongType) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(place_.root, Utf8ToWide(place_.key).c_str(), 0, nullptr, 0, KEY_WRITE,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  DWORD number = 7;
  RegSetValueExW(key, L"ProxyServer", 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), 4);
  RegSetValueExW(key, L"ProxyEnable", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"1"), 4);
  RegCloseKey(key);
  core::SystemProxyReadBack back = ReadSystemProxy(place_);
  // A number reads as its decimal text, and a text "1" as on: nothing crashes.
  EXPECT_EQ(back.list_line, "7");
  EXPECT_EQ(back.current_proxy, "7");
}

// The real Internet Settings key and WinInet's per-connection copy.
DWORD PerConnectionFlags(std::wstring* server) {
  INTERNET_PER_CONN_OPTIONW options[2] = {};
  options[0].dwOption = INTERNET_PER_CONN_FLAGS;
  options[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
  INTERNET_PER_CONN_OPTION_LISTW list{};
  list.dwSize = sizeof(list);
  list.dwOptionCount = 2;
  list.pOptions = options;
  DWORD size = sizeof(list);
  if (!InternetQueryOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &size)) {
    return 0xFFFFFFFF;
  }
  if (options[1].Value.pszValue) {
    *server = options[1].Value.pszValue;
    GlobalFree(options[1].Value.pszValue);
  }
  return options[0].Value.dwValue;
}

TEST(SystemProxyWinInetTest, TheLanConnectionFollowsTheSettingAndTheValuesStayExact) {
  SystemProxyPlace real;  // what the program uses
  real.wininet = &WinInetSettings();
  std::string saved_server = ReadRegistryText(real.root, real.key, "ProxyServer");
  std::string saved_enable = ReadRegistryText(real.root, real.key, "ProxyEnable");

  SetSystemProxy("10.1.2.3:1080@SOCKS5", real);
  EXPECT_EQ(ReadRegistryText(real.root, real.key, "ProxyServer"), "socks=10.1.2.3:1080");
  EXPECT_EQ(ReadRegistryText(real.root, real.key, "ProxyEnable"), "1");
  std::wstring server;
  DWORD flags = PerConnectionFlags(&server);
  ASSERT_NE(flags, 0xFFFFFFFFu) << GetLastError();
  EXPECT_TRUE(flags & PROXY_TYPE_PROXY);
  EXPECT_EQ(server, L"socks=10.1.2.3:1080");

  SetSystemProxy("", real);
  EXPECT_EQ(ReadRegistryText(real.root, real.key, "ProxyServer"), "socks=10.1.2.3:1080");
  EXPECT_EQ(ReadRegistryText(real.root, real.key, "ProxyEnable"), "0");
  flags = PerConnectionFlags(&server);
  EXPECT_FALSE(flags & PROXY_TYPE_PROXY);

  // Leave the prefix as it was for the tests that follow.
  EXPECT_TRUE(WriteRegistryString(real.root, real.key, "ProxyServer", saved_server));
  EXPECT_TRUE(WriteRegistryDword(real.root, real.key, "ProxyEnable", saved_enable == "1" ? 1 : 0));
}

TEST_F(SystemProxyTest, SwitchingChangesOnlyTheProxyBitOfTheConnection) {
  const DWORD kAuto = PROXY_TYPE_AUTO_DETECT | PROXY_TYPE_AUTO_PROXY_URL;
  struct Case {
    const char* name;
    bool readable;
    DWORD before;
    DWORD after_use;
    DWORD after_clear;
  };
  const Case cases[] = {
      {"auto-detect and script kept", true, PROXY_TYPE_DIRECT | kAuto,
       PROXY_TYPE_DIRECT | PROXY_TYPE_PROXY | kAuto, PROXY_TYPE_DIRECT | kAuto},
      {"plain direct", true, PROXY_TYPE_DIRECT, PROXY_TYPE_DIRECT | PROXY_TYPE_PROXY,
       PROXY_TYPE_DIRECT},
      {"flags unreadable", false, kAuto, PROXY_TYPE_DIRECT | PROXY_TYPE_PROXY, PROXY_TYPE_DIRECT},
  };
  for (const Case& c : cases) {
    RecordingInternetSettings wininet;
    wininet.readable = c.readable;
    wininet.settings[L""].flags = c.before;
    place_.wininet = &wininet;
    ASSERT_TRUE(SetSystemProxy("10.1.2.3:8080", place_).ok()) << c.name;
    EXPECT_EQ(wininet.settings[L""].flags, c.after_use) << c.name;
    EXPECT_EQ(wininet.settings[L""].server, L"10.1.2.3:8080") << c.name;
    // This process's own sessions get the port too, not the host alone.
    EXPECT_EQ(wininet.last_announced, L"10.1.2.3:8080") << c.name;
    SetSystemProxy("", place_);
    EXPECT_EQ(wininet.last_announced, L"") << c.name;
    EXPECT_EQ(wininet.settings[L""].flags, c.after_clear) << c.name;
    EXPECT_EQ(wininet.settings[L""].server, L"10.1.2.3:8080") << c.name;  // clearing keeps the text
    EXPECT_EQ(wininet.announced, 2) << c.name;
    EXPECT_EQ(wininet.refreshed, 2) << c.name;
    EXPECT_EQ(Server(), "10.1.2.3:8080") << c.name;
  }
}

TEST_F(SystemProxyTest, DialUpAndVpnEntriesFollowTheLanEachWithItsOwnFlags) {
  const DWORD kDirect = PROXY_TYPE_DIRECT;
  RecordingInternetSettings wininet;
  wininet.entries = {L"宽带连接", L"Office VPN", L"Broken"};
  wininet.refused = {L"Broken"};
  wininet.settings[L""].flags = kDirect | PROXY_TYPE_AUTO_DETECT;
  wininet.settings[L"宽带连接"].flags = kDirect;
  wininet.settings[L"Office VPN"].flags = kDirect | PROXY_TYPE_AUTO_PROXY_URL;
  place_.wininet = &wininet;
  ASSERT_TRUE(SetSystemProxy("10.1.2.3:1080@SOCKS5", place_).ok());
  // The LAN first, then every entry; the refused one stops nothing.
  EXPECT_EQ(wininet.order, (std::vector<std::wstring>{L"", L"宽带连接", L"Office VPN", L"Broken"}));
  EXPECT_EQ(wininet.settings[L""].flags, kDirect | PROXY_TYPE_PROXY | PROXY_TYPE_AUTO_DETECT);
  EXPECT_EQ(wininet.settings[L"宽带连接"].flags, kDirect | PROXY_TYPE_PROXY);
  EXPECT_EQ(wininet.settings[L"Office VPN"].flags,
            kDirect | PROXY_TYPE_PROXY | PROXY_TYPE_AUTO_PROXY_URL);
  EXPECT_EQ(wininet.settings[L"Office VPN"].server, L"socks=10.1.2.3:1080");
  EXPECT_EQ(wininet.refreshed, 1);  // the notifications go once

  SetSystemProxy("", place_);
  EXPECT_EQ(wininet.settings[L""].flags, kDirect | PROXY_TYPE_AUTO_DETECT);
  EXPECT_EQ(wininet.settings[L"宽带连接"].flags, kDirect);
  EXPECT_EQ(wininet.settings[L"Office VPN"].flags, kDirect | PROXY_TYPE_AUTO_PROXY_URL);
  EXPECT_EQ(wininet.announced, 2);
}

// What the user had before the first switch comes back at the exit: every
// connection's own server, bypass list and flags, and the two values exactly,
// a per-protocol server included.
TEST_F(SystemProxyTest, TheUserSettingsFromBeforeTheFirstSwitchComeBack) {
  const DWORD kDirect = PROXY_TYPE_DIRECT;
  const std::wstring kPerProtocol = L"http=1.2.3.4:80;ftp=5.6.7.8:21";
  RecordingInternetSettings wininet;
  wininet.entries = {L"宽带连接", L"Office VPN"};
  const std::map<std::wstring, ConnectionProxy> before = {
      {L"", {kDirect | PROXY_TYPE_PROXY | PROXY_TYPE_AUTO_DETECT, kPerProtocol, L"<local>;*.lan"}},
      {L"宽带连接", {kDirect, L"9.9.9.9:3128", L""}},
      {L"Office VPN",
       {kDirect | PROXY_TYPE_PROXY | PROXY_TYPE_AUTO_PROXY_URL, L"gw:8080", L"10.*"}},
  };
  wininet.settings = before;
  EXPECT_TRUE(
      WriteRegistryString(place_.root, place_.key, "ProxyServer", WideToUtf8(kPerProtocol)));
  EXPECT_TRUE(WriteRegistryDword(place_.root, place_.key, "ProxyEnable", 1));
  place_.wininet = &wininet;

  UserProxySettings user;
  user.RecordOnce(place_);
  SetSystemProxy("10.1.2.3:8080", place_);
  user.RecordOnce(place_);  // later switches record nothing
  SetSystemProxy("10.4.5.6:1080@SOCKS5", place_);
  SetSystemProxy("", place_);
  EXPECT_EQ(wininet.settings[L"宽带连接"].server, L"socks=10.4.5.6:1080");

  ASSERT_TRUE(user.Restore(place_).ok());
  EXPECT_TRUE(wininet.settings == before);
  EXPECT_EQ(wininet.settings[L"Office VPN"].bypass, L"10.*");
  EXPECT_EQ(Server(), WideToUtf8(kPerProtocol));
  EXPECT_EQ(Enable(), "1");
  EXPECT_EQ(wininet.last_announced, kPerProtocol);
  EXPECT_FALSE(user.recorded());
}

TEST_F(SystemProxyTest, RestoreKeepsValueTypesAndDeletesWhatWasMissing) {
  UserProxySettings user;
  EXPECT_TRUE(user.Restore(place_));  // nothing recorded: nothing written
  EXPECT_FALSE(ReadRegistryValue(place_.root, place_.key, "ProxyEnable"));

  user.RecordOnce(place_);  // neither value exists yet
  SetSystemProxy("10.1.2.3:8080", place_);
  ASSERT_TRUE(user.Restore(place_).ok());
  EXPECT_FALSE(ReadRegistryValue(place_.root, place_.key, "ProxyServer"));
  EXPECT_FALSE(ReadRegistryValue(place_.root, place_.key, "ProxyEnable"));

  const RegistryValue text_enable{REG_SZ, {'1', 0, 0, 0}};
  ASSERT_TRUE(RestoreRegistryValue(place_.root, place_.key, "ProxyEnable", text_enable).ok());
  user.RecordOnce(place_);
  SetSystemProxy("10.1.2.3:8080", place_);
  EXPECT_TRUE(user.Restore(place_));
  EXPECT_TRUE(ReadRegistryValue(place_.root, place_.key, "ProxyEnable") == text_enable);
}

// Under Wine, WinInet keeps only the HTTP entry of a per-protocol server when
// it writes its settings: clearing and the exit still leave the text exact.
TEST(SystemProxyWinInetTest, APerProtocolServerSurvivesClearingAndComesBack) {
  SystemProxyPlace real;
  real.wininet = &WinInetSettings();
  const std::string kPerProtocol = "http=1.2.3.4:80;ftp=5.6.7.8:21";
  std::optional<RegistryValue> saved_server = ReadRegistryValue(real.root, real.key, "ProxyServer");
  std::optional<RegistryValue> saved_enable = ReadRegistryValue(real.root, real.key, "ProxyEnable");
  EXPECT_TRUE(WriteRegistryString(real.root, real.key, "ProxyServer", kPerProtocol));
  EXPECT_TRUE(WriteRegistryDword(real.root, real.key, "ProxyEnable", 1));

  UserProxySettings user;
  user.RecordOnce(real);
  SetSystemProxy("", real);  // "不使用ip" with the user's own proxy in use
  EXPECT_EQ(ReadRegistryText(real.root, real.key, "ProxyServer"), kPerProtocol);
  EXPECT_EQ(ReadRegistryText(real.root, real.key, "ProxyEnable"), "0");
  SetSystemProxy("10.1.2.3:8080", real);
  EXPECT_TRUE(user.Restore(real));
  EXPECT_EQ(ReadRegistryText(real.root, real.key, "ProxyServer"), kPerProtocol);
  EXPECT_EQ(ReadRegistryText(real.root, real.key, "ProxyEnable"), "1");
  std::wstring server;
  EXPECT_TRUE(PerConnectionFlags(&server) & PROXY_TYPE_PROXY);

  EXPECT_TRUE(RestoreRegistryValue(real.root, real.key, "ProxyServer", saved_server));
  EXPECT_TRUE(RestoreRegistryValue(real.root, real.key, "ProxyEnable", saved_enable));
}

}  // namespace
}  // namespace win
