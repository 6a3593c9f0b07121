// RunSettingsHolder: the run settings in force ("运行参数设置": the floating
// window only with a browser, the tray icon, start at log-on, the desktop
// shortcut). Loaded at start from the profile, the Windows Run key and the
// desktop; the run settings dialog applies what it saved; the views follow
// through AppObserver::OnRunSettingsChanged. UI thread only.
#pragma once

#include "core/app/run_settings.h"
#include "win/app/app_events.h"
#include "win/app/app_platform.h"

namespace win {

class RunSettingsHolder {
 public:
  // `platform` and `events` must outlive the holder.
  RunSettingsHolder(const AppPlatform& platform, AppEvents& events)
      : platform_(platform), events_(events) {}

  void Load() {
    core::RunSettingsPlaces places{*platform_.profile, *platform_.shortcuts, *platform_.run_key};
    core::LoadRunSettings(places, &settings_);
    events_.Tell([](AppObserver& o) { o.OnRunSettingsChanged(); });
  }
  void Apply(const core::RunSettings& settings) {
    settings_ = settings;
    events_.Tell([](AppObserver& o) { o.OnRunSettingsChanged(); });
  }
  const core::RunSettings& settings() const { return settings_; }

 private:
  const AppPlatform& platform_;
  AppEvents& events_;
  core::RunSettings settings_;
};

}  // namespace win
