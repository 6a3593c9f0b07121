#include "win/platform/dpapi_secret_codec.h"

#include <windows.h>
// After windows.h, whose types it uses.
#include <wincrypt.h>

#include <climits>

#include "win/platform/unique_handle.h"

namespace win {
namespace {

// The bytes the data protection hands back live in LocalAlloc memory.
struct LocalBytesTraits {
  using Handle = BYTE*;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { LocalFree(h); }
};
using UniqueLocalBytes = UniqueHandle<LocalBytesTraits>;

// Mixed into every seal: another program of the same user that opens blobs
// without it gets nothing.
constexpr char kEntropy[] = "Relaymoth saved proxy log-in";

DATA_BLOB BlobOf(std::string_view bytes) {
  return {DWORD(bytes.size()), reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()))};
}

}  // namespace

std::optional<std::string> DpapiSecretCodec::Protect(std::string_view plain) {
  if (plain.size() > INT_MAX) return std::nullopt;
  DATA_BLOB in = BlobOf(plain);
  DATA_BLOB entropy = BlobOf(std::string_view(kEntropy, sizeof(kEntropy) - 1));
  DATA_BLOB out{};
  if (!CryptProtectData(&in, L"Relaymoth", &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                        &out)) {
    return std::nullopt;
  }
  UniqueLocalBytes held(out.pbData);
  return std::string(reinterpret_cast<const char*>(out.pbData), out.cbData);
}

std::optional<std::string> DpapiSecretCodec::Unprotect(std::string_view sealed) {
  if (sealed.empty() || sealed.size() > INT_MAX) return std::nullopt;
  DATA_BLOB in = BlobOf(sealed);
  DATA_BLOB entropy = BlobOf(std::string_view(kEntropy, sizeof(kEntropy) - 1));
  DATA_BLOB out{};
  if (!CryptUnprotectData(&in, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                          &out)) {
    return std::nullopt;
  }
  UniqueLocalBytes held(out.pbData);
  std::string plain(reinterpret_cast<const char*>(out.pbData), out.cbData);
  // The password does not linger in the freed block.
  SecureZeroMemory(out.pbData, out.cbData);
  return plain;
}

}  // namespace win
