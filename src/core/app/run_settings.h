// Run settings: how the program sits on the desktop and how the system proxy
// reaches a row. The two window options and the local relay's live in the
// profile section "Advanced Settings"; the desktop shortcut and
// starting at log-on are read back from where they act (the shortcut file, the
// Run value) through the seams below. The run settings dialog owns one
// RunSettings and the floating window reads it. UI thread only.
#pragma once

#include <string>
#include <string_view>

#include "core/base/profile_store.h"

namespace core {

inline constexpr std::string_view kAdvancedSettingsSection = "Advanced Settings";
inline constexpr std::string_view kOnlyWithBrowserKey = "Only visible when using Explorer";
inline constexpr std::string_view kTrayIconKey = "Place icon on systray";
inline constexpr std::string_view kAllThroughRelayKey = "All proxies through the local relay";
inline constexpr std::string_view kSameSiteMinutesKey = "Same site keeps its proxy (minutes)";
// The Run value that starts the program at log-on, under
// Software\Microsoft\Windows\CurrentVersion\Run.
inline constexpr std::string_view kAutoStartValueName = "Relaymoth";
inline constexpr std::string_view kDesktopShortcutName = "紫晶梨自动换IP.lnk";
inline constexpr std::string_view kDesktopShortcutDescription =
    "紫晶梨自动换IP软件是一个快速代理下载、验证、切换软件";
inline constexpr int kDesktopShortcutShowCommand = 5;  // shown normally

// All off until the first load; a load of an empty profile gives the tray
// icon on and the rest off.
struct RunSettings {
  bool only_with_browser = false;  // IDC_ONLY_WITH_BROWSER: the browser watch
  bool tray_icon = false;          // IDC_TRAY_ICON
  bool auto_start = false;         // IDC_AUTO_START
  bool desktop_icon = false;       // IDC_DESKTOP_ICON
  // IDC_ALL_THROUGH_RELAY: the system proxy names the local relay for every
  // row, not only for those the system setting cannot carry.
  bool all_through_relay = false;
  // IDC_SAME_SITE / IDC_SAME_SITE_MINUTES: while the relay gives each
  // connection the next row, a site keeps its row this many minutes; 0: never.
  int32_t same_site_minutes = 0;
};
inline constexpr int32_t kMaxSameSiteMinutes = 24 * 60;
inline constexpr int32_t kDefaultSameSiteMinutes = 10;  // offered when the box is ticked

// The two Run keys: HKEY_CURRENT_USER's, which every user may write and which
// the program writes, and HKEY_LOCAL_MACHINE's, where older installations put
// the value and an ordinary user cannot write.
enum class RunKeyPlace { kCurrentUser, kLocalMachine };

class RunKeyStore {
 public:
  virtual ~RunKeyStore() = default;
  // The text of value `name` under the Run key of `place`; empty when the key
  // or the value is missing or cannot be read.
  virtual std::string ReadRunValue(RunKeyPlace place, std::string_view name) = 0;
  // Writes a text value, creating the key when needed; false when refused.
  virtual bool WriteRunValue(RunKeyPlace place, std::string_view name,
                             std::string_view command) = 0;
  // A missing value is no error; false when the key could not be opened for writing.
  virtual bool DeleteRunValue(RunKeyPlace place, std::string_view name) = 0;
};

enum class ShortcutPresence { kPresent, kAbsent, kNoDesktop };

struct ShortcutSpec {
  std::string link_name;  // file name in the desktop folder
  std::string target;     // full path of the program file, unquoted
  std::string description;
  int show_command = kDesktopShortcutShowCommand;
};

// Shortcut files in the user's desktop folder.
class DesktopShortcuts {
 public:
  virtual ~DesktopShortcuts() = default;
  // kNoDesktop when the desktop folder cannot be found.
  virtual ShortcutPresence FindShortcut(std::string_view link_name) = 0;
  // Creates or replaces the link; false when it could not be saved or there is no desktop.
  virtual bool CreateShortcut(const ShortcutSpec& spec) = 0;
  // A missing file is no error; false when the file stays or there is no desktop.
  virtual bool RemoveShortcut(std::string_view link_name) = 0;
};

// Where the run settings are kept and act.
struct RunSettingsPlaces {
  ProfileStore& profile;
  DesktopShortcuts& shortcuts;
  RunKeyStore& run_key;
};

// Reads the profile values (tray icon on, browser watch and relay off when missing;
// any non-zero number is on), whether the shortcut exists (kept as it was when
// there is no desktop) and whether either Run key holds a non-empty value.
void LoadRunSettings(RunSettingsPlaces& places, RunSettings* settings);

// Writes the profile values, creates or removes the desktop shortcut, and
// writes the quoted program path into the current user's Run key or removes
// the value from both Run keys. Nothing is created for an empty
// `program_path`. Afterwards the shortcut and autostart fields are read back
// from where they act, so that a refused change shows as not made. Failures
// other than the profile's are ignored; fails with the first refused profile
// write (every value is tried).
WriteStatus SaveRunSettings(RunSettings* settings, std::string_view program_path,
                            RunSettingsPlaces& places);

// The Run value's text for a program path: the path in double quotes, so that a
// folder with blanks starts the right program.
std::string AutoStartCommand(std::string_view program_path);

}  // namespace core
