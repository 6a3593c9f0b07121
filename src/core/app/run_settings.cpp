#include "core/app/run_settings.h"

#include "core/base/settings_table.h"

namespace core {
namespace {

constexpr SettingField<RunSettings> kRunFields[] = {
    {kOnlyWithBrowserKey, &RunSettings::only_with_browser, false},
    {kTrayIconKey, &RunSettings::tray_icon, true},
    {kAllThroughRelayKey, &RunSettings::all_through_relay, false},
    {kSameSiteMinutesKey, &RunSettings::same_site_minutes, 0, 0, kMaxSameSiteMinutes, false, true},
};

constexpr RunKeyPlace kRunKeyPlaces[] = {RunKeyPlace::kCurrentUser, RunKeyPlace::kLocalMachine};

void ReadBackSystemSettings(RunSettingsPlaces& places, RunSettings* s) {
  switch (places.shortcuts.FindShortcut(kDesktopShortcutName)) {
    case ShortcutPresence::kPresent:
      s->desktop_icon = true;
      break;
    case ShortcutPresence::kAbsent:
      s->desktop_icon = false;
      break;
    case ShortcutPresence::kNoDesktop:
      break;  // unknown: the field keeps its value
  }
  // A value left under HKEY_LOCAL_MACHINE by an older installation still starts
  // the program, so it reads as on.
  s->auto_start = false;
  for (RunKeyPlace place : kRunKeyPlaces) {
    if (!places.run_key.ReadRunValue(place, kAutoStartValueName).empty()) s->auto_start = true;
  }
}

}  // namespace

std::string AutoStartCommand(std::string_view program_path) {
  std::string command;
  command.reserve(program_path.size() + 2);
  command.append("\"").append(program_path).append("\"");
  return command;
}

void LoadRunSettings(RunSettingsPlaces& places, RunSettings* settings) {
  ReadFields(places.profile, kAdvancedSettingsSection, kRunFields, settings);
  ReadBackSystemSettings(places, settings);
}

WriteStatus SaveRunSettings(RunSettings* settings, std::string_view program_path,
                            RunSettingsPlaces& places) {
  WriteStatus ok = WriteFields(places.profile, kAdvancedSettingsSection, kRunFields, *settings);

  // A shortcut or Run value pointing at nothing would be worse than none.
  if (settings->desktop_icon) {
    if (!program_path.empty()) {
      places.shortcuts.CreateShortcut(
          ShortcutSpec{std::string(kDesktopShortcutName), std::string(program_path),
                       std::string(kDesktopShortcutDescription), kDesktopShortcutShowCommand});
    }
  } else {
    places.shortcuts.RemoveShortcut(kDesktopShortcutName);
  }

  // The per-user key needs no administrator rights; the machine key is only
  // cleaned, where the rights allow.
  if (settings->auto_start) {
    if (!program_path.empty()) {
      places.run_key.WriteRunValue(RunKeyPlace::kCurrentUser, kAutoStartValueName,
                                   AutoStartCommand(program_path));
    }
  } else {
    for (RunKeyPlace place : kRunKeyPlaces) {
      places.run_key.DeleteRunValue(place, kAutoStartValueName);
    }
  }

  ReadBackSystemSettings(places, settings);
  return ok;
}

}  // namespace core
