// Small registry helpers over the W functions, with UTF-8 names and texts: the
// writers create the key when needed, the reader never fails loudly (anything it
// cannot make sense of reads as the empty text). Any thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "win/platform/win_status.h"

namespace win {

// The most bytes ReadRegistryText takes from a value; a larger value reads as "".
inline constexpr DWORD kRegistryTextLimit = 4096;

// Writes `text` as REG_SZ (stored with its terminating zero, as W readers expect).
// Fails with the system's error when the key cannot be created or opened or the
// write is refused; the context names the value.
WinStatus WriteRegistryString(HKEY root, std::string_view subkey, std::string_view name,
                              std::string_view text);
// Writes a 4-byte REG_DWORD.
WinStatus WriteRegistryDword(HKEY root, std::string_view subkey, std::string_view name,
                             uint32_t value);
// The same two writes into a key that is already open.
WinStatus SetRegistryString(HKEY key, std::string_view name, std::string_view text);
WinStatus SetRegistryDword(HKEY key, std::string_view name, uint32_t value);
// REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ as their text up to the first zero;
// REG_BINARY as ANSI bytes up to the first zero; REG_DWORD as unsigned decimal.
// Any other type, a missing value or key, or a value larger than
// kRegistryTextLimit bytes gives "".
std::string ReadRegistryText(HKEY root, std::string_view subkey, std::string_view name);

// A value as stored: its type and its bytes.
struct RegistryValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  bool operator==(const RegistryValue&) const = default;
};

// The value as stored, whatever its type and size; nullopt when the value or
// the key is missing or cannot be read.
std::optional<RegistryValue> ReadRegistryValue(HKEY root, std::string_view subkey,
                                               std::string_view name);
// Puts a value back as ReadRegistryValue gave it: written with its own type and
// bytes (the key is created when needed), or deleted when it was missing (a
// value or key already missing is no error).
WinStatus RestoreRegistryValue(HKEY root, std::string_view subkey, std::string_view name,
                               const std::optional<RegistryValue>& value);

// Deletes a key and everything below it; a missing key is no error.
bool DeleteRegistryTree(HKEY root, std::string_view subkey);

}  // namespace win
