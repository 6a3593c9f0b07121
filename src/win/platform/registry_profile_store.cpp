#include "win/platform/registry_profile_store.h"

#include <vector>

#include "win/platform/registry.h"
#include "win/platform/unique_handle.h"
#include "win/platform/wide_text.h"

namespace win {
namespace {

UniqueRegKey OpenKey(HKEY root, const std::string& path, REGSAM access) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, Utf8ToWide(path).c_str(), 0, access, &key) != ERROR_SUCCESS) {
    return UniqueRegKey();
  }
  return UniqueRegKey(key);
}

core::WriteStatus ToWriteStatus(const WinStatus& status) {
  return status.ok() ? core::WriteStatus::Ok() : core::WriteStatus::Failed(status.ToString());
}

}  // namespace

void RegistryProfileStore::HoldSection(std::string_view section) {
  ReleaseSection();
  HKEY key = nullptr;
  if (RegCreateKeyExW(root_, Utf8ToWide(SectionPath(section)).c_str(), 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr, &key,
                      nullptr) == ERROR_SUCCESS) {
    held_key_ = UniqueRegKey(key);
    held_section_ = std::string(section);
  }
}

void RegistryProfileStore::ReleaseSection() {
  held_key_ = UniqueRegKey();
  held_section_.clear();
}

HKEY RegistryProfileStore::Held(std::string_view section) const {
  return held_key_ && section == held_section_ ? held_key_.get() : nullptr;
}

std::string RegistryProfileStore::SectionPath(std::string_view section) const {
  std::string path = root_path_;
  path += '\\';
  path += section;
  return path;
}

int32_t RegistryProfileStore::ReadInt(std::string_view section, std::string_view name,
                                      int32_t def) {
  UniqueRegKey opened;
  HKEY key = Held(section);
  if (!key) {
    opened = OpenKey(root_, SectionPath(section), KEY_READ);
    key = opened.get();
  }
  if (!key) return def;
  DWORD type = REG_NONE;
  DWORD value = 0;
  DWORD bytes = sizeof(value);
  if (RegQueryValueExW(key, Utf8ToWide(name).c_str(), nullptr, &type,
                       reinterpret_cast<BYTE*>(&value), &bytes) != ERROR_SUCCESS ||
      type != REG_DWORD || bytes != sizeof(value)) {
    return def;
  }
  return static_cast<int32_t>(value);
}

std::string RegistryProfileStore::ReadText(std::string_view section, std::string_view name,
                                           std::string_view def) {
  UniqueRegKey opened;
  HKEY key = Held(section);
  if (!key) {
    opened = OpenKey(root_, SectionPath(section), KEY_READ);
    key = opened.get();
  }
  if (!key) return std::string(def);
  std::wstring wname = Utf8ToWide(name);
  DWORD type = REG_NONE;
  DWORD bytes = 0;
  if (RegQueryValueExW(key, wname.c_str(), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
      type != REG_SZ || bytes > kMaxTextChars * sizeof(wchar_t)) {
    return std::string(def);
  }
  // Room for a terminator the stored value may lack.
  std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 2, L'\0');
  DWORD got = bytes;
  if (RegQueryValueExW(key, wname.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                       &got) != ERROR_SUCCESS ||
      type != REG_SZ || got > bytes) {
    // Changed between the two calls: not worth a retry loop.
    return std::string(def);
  }
  size_t n = 0;
  size_t count = got / sizeof(wchar_t);
  while (n < count && buffer[n] != L'\0') ++n;
  return WideToUtf8(std::wstring_view(buffer.data(), n));
}

core::WriteStatus RegistryProfileStore::WriteInt(std::string_view section, std::string_view name,
                                                 int32_t value) {
  HKEY key = Held(section);
  return ToWriteStatus(
      key ? SetRegistryDword(key, name, static_cast<uint32_t>(value))
          : WriteRegistryDword(root_, SectionPath(section), name, static_cast<uint32_t>(value)));
}

core::WriteStatus RegistryProfileStore::WriteText(std::string_view section, std::string_view name,
                                                  std::string_view value) {
  HKEY key = Held(section);
  return ToWriteStatus(key ? SetRegistryString(key, name, value)
                           : WriteRegistryString(root_, SectionPath(section), name, value));
}

core::WriteStatus RegistryProfileStore::DeleteValue(std::string_view section,
                                                    std::string_view name) {
  auto refused = [&](LSTATUS status) {
    return ToWriteStatus(WinStatus::Error(DWORD(status), "deleting " + std::string(name)));
  };
  if (HKEY key = Held(section)) {
    LSTATUS status = RegDeleteValueW(key, Utf8ToWide(name).c_str());
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) return core::WriteStatus::Ok();
    return refused(status);
  }
  HKEY raw = nullptr;
  LSTATUS status =
      RegOpenKeyExW(root_, Utf8ToWide(SectionPath(section)).c_str(), 0, KEY_SET_VALUE, &raw);
  // A section that does not exist holds no value to delete.
  if (status == ERROR_FILE_NOT_FOUND) return core::WriteStatus::Ok();
  if (status != ERROR_SUCCESS) return refused(status);
  UniqueRegKey key(raw);
  status = RegDeleteValueW(key.get(), Utf8ToWide(name).c_str());
  if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) return core::WriteStatus::Ok();
  return refused(status);
}

}  // namespace win
