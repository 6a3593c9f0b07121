// Where the run settings act on the system: the Run value that starts the
// program at log-on (under HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE) and the
// program's shortcut on the user's desktop, made through the shell-link COM
// object. UI thread (the shortcut needs COM, which the program initialises
// with OleInitialize; a thread without it gets it for the call).
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "core/app/run_settings.h"

namespace win {

// The Run key below both roots.
inline constexpr std::string_view kRunSubkey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// The full path of the running program file (UTF-8); empty when it cannot be
// read.
std::string ProgramFilePath();

// The user's desktop directory as the shell names it (UTF-8, no trailing
// separator); nullopt when the shell cannot give it.
std::optional<std::string> GetDesktopFolder();

// core::RunKeyStore over the registry.
class RegistryRunKeyStore final : public core::RunKeyStore {
 public:
  // `subkey` is the key below HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE (tests
  // may use a key of their own).
  explicit RegistryRunKeyStore(std::string subkey = std::string(kRunSubkey))
      : subkey_(std::move(subkey)) {}

  std::string ReadRunValue(core::RunKeyPlace place, std::string_view name) override;
  bool WriteRunValue(core::RunKeyPlace place, std::string_view name,
                     std::string_view command) override;
  bool DeleteRunValue(core::RunKeyPlace place, std::string_view name) override;

 private:
  std::string subkey_;
};

// core::DesktopShortcuts over the desktop folder and the shell-link object.
// Link names must be plain file names: a name with a folder part ("\", "/",
// ":") or made only of dots is refused.
class ShellDesktopShortcuts final : public core::DesktopShortcuts {
 public:
  // `desktop_folder` replaces the user's desktop (tests); empty: ask the shell
  // at every call.
  explicit ShellDesktopShortcuts(std::string desktop_folder = {})
      : desktop_folder_(std::move(desktop_folder)) {}

  core::ShortcutPresence FindShortcut(std::string_view link_name) override;
  bool CreateShortcut(const core::ShortcutSpec& spec) override;
  bool RemoveShortcut(std::string_view link_name) override;

 private:
  // The link's full path; nullopt without a desktop or for a refused name.
  std::optional<std::wstring> LinkPath(std::string_view link_name) const;

  std::string desktop_folder_;
};

}  // namespace win
