#include "core/app/run_settings.h"

namespace core {
namespace {

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
  settings->only_with_browser =
      places.profile.ReadInt(kAdvancedSettingsSection, kOnlyWithBrowserKey, 0) != 0;
  settings->tray_icon = places.profile.ReadInt(kAdvancedSettingsSection, kTrayIconKey, 1) != 0;
  settings->all_through_relay =
      places.profile.ReadInt(kAdvancedSettingsSection, kAllThroughRelayKey, 0) != 0;
  ReadBackSystemSettings(places, settings);
}

WriteStatus SaveRunSettings(RunSettings* settings, std::string_view program_path,
                            RunSettingsPlaces& places) {
  WriteStatus ok = places.profile.WriteInt(kAdvancedSettingsSection, kOnlyWithBrowserKey,
                                           settings->only_with_browser ? 1 : 0);
  ok &=
      places.profile.WriteInt(kAdvancedSettingsSection, kTrayIconKey, settings->tray_icon ? 1 : 0);
  ok &= places.profile.WriteInt(kAdvancedSettingsSection, kAllThroughRelayKey,
                                settings->all_through_relay ? 1 : 0);

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
