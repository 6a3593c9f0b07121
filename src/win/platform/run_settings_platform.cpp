#include "win/platform/run_settings_platform.h"

#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "win/platform/registry.h"
#include "win/platform/unique_handle.h"
#include "win/platform/wide_text.h"

namespace win {
namespace {

HKEY RootOf(core::RunKeyPlace place) {
  return place == core::RunKeyPlace::kCurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

// One COM interface pointer, released once.
template <typename T>
class ComRef {
 public:
  ComRef() = default;
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ~ComRef() {
    if (p_ != nullptr) p_->Release();
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  void** out() { return reinterpret_cast<void**>(&p_); }

 private:
  T* p_ = nullptr;
};

// COM for the current thread for as long as the object lives, unless the
// thread already has it in another mode.
class ComScope {
 public:
  ComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(hr_)) CoUninitialize();  // S_FALSE too: one call per success
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  HRESULT hr_;
};

bool IsPlainFileName(std::string_view name) {
  if (name.empty() || name.find_first_of("\\/:") != std::string_view::npos) return false;
  return name.find_first_not_of(". ") != std::string_view::npos;
}

}  // namespace

std::string ProgramFilePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return WideToUtf8(path);
    }
    if (path.size() >= 65536) return {};
    path.resize(path.size() * 2);
  }
}

std::optional<std::string> GetDesktopFolder() {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(
          SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, path)) ||
      path[0] == L'\0') {
    return std::nullopt;
  }
  return WideToUtf8(path);
}

std::string RegistryRunKeyStore::ReadRunValue(core::RunKeyPlace place, std::string_view name) {
  return ReadRegistryText(RootOf(place), subkey_, name);
}

bool RegistryRunKeyStore::WriteRunValue(core::RunKeyPlace place, std::string_view name,
                                        std::string_view command) {
  return WriteRegistryString(RootOf(place), subkey_, name, command).ok();
}

bool RegistryRunKeyStore::DeleteRunValue(core::RunKeyPlace place, std::string_view name) {
  HKEY raw = nullptr;
  LSTATUS status =
      RegOpenKeyExW(RootOf(place), Utf8ToWide(subkey_).c_str(), 0, KEY_SET_VALUE, &raw);
  // No key, no value: nothing starts the program from there.
  if (status == ERROR_FILE_NOT_FOUND) return true;
  if (status != ERROR_SUCCESS) return false;
  UniqueRegKey key(raw);
  status = RegDeleteValueW(key.get(), Utf8ToWide(name).c_str());
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

std::optional<std::wstring> ShellDesktopShortcuts::LinkPath(std::string_view link_name) const {
  if (!IsPlainFileName(link_name)) return std::nullopt;
  std::optional<std::string> folder =
      desktop_folder_.empty() ? GetDesktopFolder() : std::optional<std::string>(desktop_folder_);
  if (!folder) return std::nullopt;
  std::wstring path = Utf8ToWide(*folder);
  if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path += L'\\';
  return path + Utf8ToWide(link_name);
}

core::ShortcutPresence ShellDesktopShortcuts::FindShortcut(std::string_view link_name) {
  std::optional<std::wstring> path = LinkPath(link_name);
  if (!path) return core::ShortcutPresence::kNoDesktop;
  DWORD attributes = GetFileAttributesW(path->c_str());
  bool file = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  return file ? core::ShortcutPresence::kPresent : core::ShortcutPresence::kAbsent;
}

bool ShellDesktopShortcuts::CreateShortcut(const core::ShortcutSpec& spec) {
  std::optional<std::wstring> path = LinkPath(spec.link_name);
  if (!path || spec.target.empty()) return false;
  ComScope com;
  ComRef<IShellLinkW> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              link.out()))) {
    return false;
  }
  if (FAILED(link->SetPath(Utf8ToWide(spec.target).c_str())) ||
      FAILED(link->SetDescription(Utf8ToWide(spec.description).c_str())) ||
      FAILED(link->SetShowCmd(spec.show_command))) {
    return false;
  }
  ComRef<IPersistFile> file;
  if (FAILED(link->QueryInterface(IID_IPersistFile, file.out()))) return false;
  return SUCCEEDED(file->Save(path->c_str(), TRUE));
}

bool ShellDesktopShortcuts::RemoveShortcut(std::string_view link_name) {
  std::optional<std::wstring> path = LinkPath(link_name);
  if (!path) return false;
  if (DeleteFileW(path->c_str())) return true;
  DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace win
