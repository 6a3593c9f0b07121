// RegistryProfileStore: the application profile in the registry, one subkey of
// the profile root per section, integers as REG_DWORD and texts as REG_SZ. A
// value of the wrong type, an unreadable one or an oversized one reads as the
// caller's default. UI thread (like every ProfileStore).
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "core/base/profile_store.h"
#include "win/platform/unique_handle.h"

namespace win {

// HKEY_CURRENT_USER\Software\Quillworks\Relaymoth
inline constexpr std::string_view kProfileRoot = "Software\\Quillworks\\Relaymoth";

class RegistryProfileStore final : public core::ProfileStore {
 public:
  // The longest text value read, in characters; longer ones read as the default.
  static constexpr size_t kMaxTextChars = 32 * 1024;

  // `root_path` is the profile's key below `root` (kProfileRoot for the program).
  RegistryProfileStore(HKEY root, std::string root_path)
      : root_(root), root_path_(std::move(root_path)) {}

  int32_t ReadInt(std::string_view section, std::string_view name, int32_t def) override;
  std::string ReadText(std::string_view section, std::string_view name,
                       std::string_view def) override;
  core::WriteStatus WriteInt(std::string_view section, std::string_view name,
                             int32_t value) override;
  core::WriteStatus WriteText(std::string_view section, std::string_view name,
                              std::string_view value) override;
  core::WriteStatus DeleteValue(std::string_view section, std::string_view name) override;
  void HoldSection(std::string_view section) override;
  void ReleaseSection() override;

 private:
  std::string SectionPath(std::string_view section) const;
  // The held key when `section` is the held section, else null.
  HKEY Held(std::string_view section) const;

  HKEY root_;
  std::string root_path_;
  std::string held_section_;
  UniqueRegKey held_key_;
};

}  // namespace win
