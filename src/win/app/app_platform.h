// AppPlatform: the platform parts that the owner, every service and every
// dialog need (the instance, the profile, the prompt, the list files' code
// page, the Windows Run key, the desktop shortcuts, the program's path, the
// seal of saved passwords). The
// composition root builds them once and hands out this bundle; everything
// in it outlives every window. UI thread only.
#pragma once

#include <windows.h>

#include <string>

#include "core/app/run_settings.h"
#include "core/base/codepage.h"
#include "core/base/profile_store.h"
#include "core/base/secret_codec.h"
#include "win/app/prompt.h"

namespace win {

struct AppPlatform {
  HINSTANCE instance = nullptr;
  core::ProfileStore* profile = nullptr;
  Prompt* prompt = nullptr;
  // List files that are not UTF-8 are read and written in this code page.
  const core::AnsiCodec* codec = nullptr;
  // Where "start at log-on" lives (the Windows Run key), the desktop's
  // shortcut, and the program file both start.
  core::RunKeyStore* run_key = nullptr;
  core::DesktopShortcuts* shortcuts = nullptr;
  std::string program_path;
  // Seals the saved list's user names and passwords for the current user;
  // without it rows are saved without their log-ins.
  core::SecretCodec* secrets = nullptr;
};

}  // namespace win
