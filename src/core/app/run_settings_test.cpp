#include "core/app/run_settings.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>

namespace core {
namespace {

constexpr std::string_view kProgram = R"(C:\Program Files\Relay moth\relaymoth.exe)";
constexpr std::string_view kQuoted = R"("C:\Program Files\Relay moth\relaymoth.exe")";

class FakeRunKeys final : public RunKeyStore {
 public:
  std::map<RunKeyPlace, std::string> values;  // the "Relaymoth" value per key
  bool machine_read_only = true;              // an ordinary user

  std::string ReadRunValue(RunKeyPlace place, std::string_view name) override {
    EXPECT_EQ(name, "Relaymoth");
    auto it = values.find(place);
    return it == values.end() ? "" : it->second;
  }
  bool WriteRunValue(RunKeyPlace place, std::string_view name, std::string_view command) override {
    EXPECT_EQ(name, "Relaymoth");
    if (place == RunKeyPlace::kLocalMachine && machine_read_only) return false;
    values[place] = std::string(command);
    return true;
  }
  bool DeleteRunValue(RunKeyPlace place, std::string_view name) override {
    EXPECT_EQ(name, "Relaymoth");
    if (place == RunKeyPlace::kLocalMachine && machine_read_only) return false;
    values.erase(place);
    return true;
  }
};

class FakeShortcuts final : public DesktopShortcuts {
 public:
  bool has_desktop = true;
  std::optional<ShortcutSpec> link;  // the file on the desktop

  ShortcutPresence FindShortcut(std::string_view link_name) override {
    if (!has_desktop) return ShortcutPresence::kNoDesktop;
    return link && link->link_name == link_name ? ShortcutPresence::kPresent
                                                : ShortcutPresence::kAbsent;
  }
  bool CreateShortcut(const ShortcutSpec& spec) override {
    if (!has_desktop) return false;
    link = spec;
    return true;
  }
  bool RemoveShortcut(std::string_view) override {
    if (!has_desktop) return false;
    link.reset();
    return true;
  }
};

class RunSettingsTest : public ::testing::Test {
 protected:
  MemoryProfileStore profile_;
  FakeShortcuts shortcuts_;
  FakeRunKeys run_;
  RunSettingsPlaces places_{profile_, shortcuts_, run_};
};

TEST_F(RunSettingsTest, EmptyProfileAndNothingOnTheSystem) {
  RunSettings s{true, false, true, true, true};
  LoadRunSettings(places_, &s);
  EXPECT_FALSE(s.all_through_relay);
  EXPECT_FALSE(s.only_with_browser);
  EXPECT_TRUE(s.tray_icon);
  EXPECT_FALSE(s.auto_start);
  EXPECT_FALSE(s.desktop_icon);
}

TEST_F(RunSettingsTest, EverySettingRoundTripsFromEitherStart) {
  for (int from : {0, 31}) {
    for (int to = 0; to < 32; ++to) {
      MemoryProfileStore profile;
      FakeShortcuts shortcuts;
      FakeRunKeys run;
      run.machine_read_only = false;
      RunSettingsPlaces places{profile, shortcuts, run};
      auto make = [](int bits) {
        return RunSettings{(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0, (bits & 8) != 0,
                           (bits & 16) != 0, bits * 40};
      };
      RunSettings first = make(from);
      ASSERT_TRUE(SaveRunSettings(&first, kProgram, places));
      RunSettings want = make(to);
      RunSettings saved = want;
      ASSERT_TRUE(SaveRunSettings(&saved, kProgram, places)) << from << "->" << to;
      RunSettings loaded;
      LoadRunSettings(places, &loaded);
      for (const RunSettings* r : {&saved, &loaded}) {
        EXPECT_EQ(r->only_with_browser, want.only_with_browser) << from << "->" << to;
        EXPECT_EQ(r->tray_icon, want.tray_icon) << from << "->" << to;
        EXPECT_EQ(r->auto_start, want.auto_start) << from << "->" << to;
        EXPECT_EQ(r->desktop_icon, want.desktop_icon) << from << "->" << to;
        EXPECT_EQ(r->all_through_relay, want.all_through_relay) << from << "->" << to;
        EXPECT_EQ(r->same_site_minutes, want.same_site_minutes) << from << "->" << to;
      }
      // Autostart goes to the user's own key, quoted; the machine key is never written.
      EXPECT_EQ(run.values.count(RunKeyPlace::kLocalMachine), 0u) << from << "->" << to;
      EXPECT_EQ(run.ReadRunValue(RunKeyPlace::kCurrentUser, "Relaymoth"),
                want.auto_start ? kQuoted : "")
          << from << "->" << to;
      if (want.desktop_icon) {
        ASSERT_TRUE(shortcuts.link.has_value());
        EXPECT_EQ(shortcuts.link->link_name, "紫晶梨自动换IP.lnk");
        EXPECT_EQ(shortcuts.link->target, kProgram);
        EXPECT_EQ(shortcuts.link->description,
                  "紫晶梨自动换IP软件是一个快速代理下载、验证、切换软件");
        EXPECT_EQ(shortcuts.link->show_command, 5);
      }
    }
  }
}

TEST_F(RunSettingsTest, AMachineValueReadsAsOnAndIsRemovedWhereRightsAllow) {
  run_.values[RunKeyPlace::kLocalMachine] = R"(C:\old\relaymoth.exe)";
  RunSettings s;
  LoadRunSettings(places_, &s);
  EXPECT_TRUE(s.auto_start);

  // Without the rights the machine value stays, and the box shows it.
  run_.values[RunKeyPlace::kCurrentUser] = std::string(kQuoted);
  s.auto_start = false;
  EXPECT_TRUE(SaveRunSettings(&s, kProgram, places_));
  EXPECT_EQ(run_.values.count(RunKeyPlace::kCurrentUser), 0u);
  EXPECT_EQ(run_.values.count(RunKeyPlace::kLocalMachine), 1u);
  EXPECT_TRUE(s.auto_start);

  run_.machine_read_only = false;
  s.auto_start = false;
  EXPECT_TRUE(SaveRunSettings(&s, kProgram, places_));
  EXPECT_TRUE(run_.values.empty());
  EXPECT_FALSE(s.auto_start);
}

TEST_F(RunSettingsTest, WithoutADesktopTheShortcutBoxKeepsItsValue) {
  shortcuts_.has_desktop = false;
  for (bool before : {false, true}) {
    RunSettings s;
    s.desktop_icon = before;
    LoadRunSettings(places_, &s);
    EXPECT_EQ(s.desktop_icon, before);
    EXPECT_TRUE(SaveRunSettings(&s, kProgram, places_));
    EXPECT_EQ(s.desktop_icon, before);
    EXPECT_FALSE(shortcuts_.link.has_value());
  }
}

TEST_F(RunSettingsTest, NoProgramPathCreatesNothing) {
  RunSettings s{false, true, true, true};
  EXPECT_TRUE(SaveRunSettings(&s, "", places_));
  EXPECT_TRUE(run_.values.empty());
  EXPECT_FALSE(shortcuts_.link.has_value());
  EXPECT_FALSE(s.auto_start);
  EXPECT_FALSE(s.desktop_icon);
}

TEST_F(RunSettingsTest, AProfileThatRefusesWritesIsReportedButTheRestActs) {
  profile_.set_read_only(true);
  RunSettings s{true, false, true, true};
  EXPECT_FALSE(SaveRunSettings(&s, kProgram, places_));
  EXPECT_TRUE(s.auto_start);
  EXPECT_TRUE(s.desktop_icon);
  RunSettings loaded;
  LoadRunSettings(places_, &loaded);
  EXPECT_FALSE(loaded.only_with_browser);
  EXPECT_TRUE(loaded.tray_icon);
}

}  // namespace
}  // namespace core
