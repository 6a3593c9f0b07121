#include "win/platform/registry.h"

#include <vector>

#include "win/platform/unique_handle.h"
#include "win/platform/wide_text.h"

namespace win {
namespace {

// The key, created when missing; on failure the status says why.
UniqueRegKey CreateKey(HKEY root, std::string_view subkey, std::string_view name,
                       WinStatus* status) {
  HKEY key = nullptr;
  LONG result = RegCreateKeyExW(root, Utf8ToWide(subkey).c_str(), 0, nullptr,
                                REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr, &key,
                                nullptr);
  if (result != ERROR_SUCCESS) {
    *status = WinStatus::Error(DWORD(result), "writing " + std::string(name));
    return UniqueRegKey();
  }
  return UniqueRegKey(key);
}

WinStatus SetValue(HKEY key, std::string_view name, DWORD type, const BYTE* data, DWORD bytes) {
  LONG result = RegSetValueExW(key, Utf8ToWide(name).c_str(), 0, type, data, bytes);
  if (result == ERROR_SUCCESS) return WinStatus::Ok();
  return WinStatus::Error(DWORD(result), "writing " + std::string(name));
}

// Text up to the first zero of a UTF-16 buffer of `bytes` bytes (an odd last
// byte is ignored).
std::wstring WideUpToZero(const std::vector<BYTE>& buffer, DWORD bytes) {
  const auto* chars = reinterpret_cast<const wchar_t*>(buffer.data());
  size_t count = bytes / sizeof(wchar_t);
  size_t n = 0;
  while (n < count && chars[n] != L'\0') ++n;
  return std::wstring(chars, n);
}

}  // namespace

WinStatus SetRegistryString(HKEY key, std::string_view name, std::string_view text) {
  std::wstring value = Utf8ToWide(text);
  DWORD bytes = DWORD((value.size() + 1) * sizeof(wchar_t));
  return SetValue(key, name, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes);
}

WinStatus SetRegistryDword(HKEY key, std::string_view name, uint32_t value) {
  DWORD data = value;
  return SetValue(key, name, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data));
}

WinStatus WriteRegistryString(HKEY root, std::string_view subkey, std::string_view name,
                              std::string_view text) {
  WinStatus status;
  UniqueRegKey key = CreateKey(root, subkey, name, &status);
  return key ? SetRegistryString(key.get(), name, text) : status;
}

WinStatus WriteRegistryDword(HKEY root, std::string_view subkey, std::string_view name,
                             uint32_t value) {
  WinStatus status;
  UniqueRegKey key = CreateKey(root, subkey, name, &status);
  return key ? SetRegistryDword(key.get(), name, value) : status;
}

std::string ReadRegistryText(HKEY root, std::string_view subkey, std::string_view name) {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(root, Utf8ToWide(subkey).c_str(), 0, KEY_READ, &raw) != ERROR_SUCCESS) {
    return {};
  }
  UniqueRegKey key(raw);
  // Two extra zero bytes so that even a value stored without its terminator
  // ends inside the buffer.
  std::vector<BYTE> buffer(kRegistryTextLimit + sizeof(wchar_t), 0);
  DWORD type = REG_NONE;
  DWORD bytes = kRegistryTextLimit;
  LSTATUS status =
      RegQueryValueExW(key.get(), Utf8ToWide(name).c_str(), nullptr, &type, buffer.data(), &bytes);
  if (status != ERROR_SUCCESS || bytes > kRegistryTextLimit) return {};
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_MULTI_SZ:
      return WideToUtf8(WideUpToZero(buffer, bytes));
    case REG_BINARY: {
      size_t n = 0;
      while (n < bytes && buffer[n] != 0) ++n;
      std::string_view ansi(reinterpret_cast<const char*>(buffer.data()), n);
      return WideToUtf8(CodePageToWide(ansi, CP_ACP));
    }
    case REG_DWORD:
      if (bytes != sizeof(DWORD)) return {};
      return std::to_string(*reinterpret_cast<const DWORD*>(buffer.data()));
    default:
      return {};
  }
}

std::optional<RegistryValue> ReadRegistryValue(HKEY root, std::string_view subkey,
                                               std::string_view name) {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(root, Utf8ToWide(subkey).c_str(), 0, KEY_READ, &raw) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  UniqueRegKey key(raw);
  std::wstring wide_name = Utf8ToWide(name);
  RegistryValue value;
  // The value may grow between the size query and the read; ask again then.
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD bytes = 0;
    if (RegQueryValueExW(key.get(), wide_name.c_str(), nullptr, &value.type, nullptr, &bytes) !=
        ERROR_SUCCESS) {
      return std::nullopt;
    }
    value.data.assign(bytes, 0);
    LSTATUS status = RegQueryValueExW(key.get(), wide_name.c_str(), nullptr, &value.type,
                                      value.data.empty() ? nullptr : value.data.data(), &bytes);
    if (status == ERROR_SUCCESS) {
      value.data.resize(bytes);
      return value;
    }
    if (status != ERROR_MORE_DATA) return std::nullopt;
  }
  return std::nullopt;
}

WinStatus RestoreRegistryValue(HKEY root, std::string_view subkey, std::string_view name,
                               const std::optional<RegistryValue>& value) {
  if (value) {
    WinStatus status;
    UniqueRegKey key = CreateKey(root, subkey, name, &status);
    if (!key) return status;
    return SetValue(key.get(), name, value->type, value->data.data(), DWORD(value->data.size()));
  }
  HKEY raw = nullptr;
  LSTATUS opened = RegOpenKeyExW(root, Utf8ToWide(subkey).c_str(), 0, KEY_SET_VALUE, &raw);
  if (opened == ERROR_FILE_NOT_FOUND) return WinStatus::Ok();
  if (opened != ERROR_SUCCESS)
    return WinStatus::Error(DWORD(opened), "deleting " + std::string(name));
  UniqueRegKey key(raw);
  LSTATUS deleted = RegDeleteValueW(key.get(), Utf8ToWide(name).c_str());
  if (deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND) return WinStatus::Ok();
  return WinStatus::Error(DWORD(deleted), "deleting " + std::string(name));
}

bool DeleteRegistryTree(HKEY root, std::string_view subkey) {
  LSTATUS status = RegDeleteTreeW(root, Utf8ToWide(subkey).c_str());
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

}  // namespace win
