// DpapiSecretCodec: seals the saved list's log-ins with the Windows data
// protection of the current user (CryptProtectData), so that the registry never
// holds a password in plain text and another user's account cannot open them.
//
// Under Wine (the tests here run it there): sealing and opening round-trip,
// and damaged, truncated or foreign bytes are refused, never a crash. Wine keys
// its seal with a fixed secret of its own and marks its blobs, instead of the
// user's log-on secret: a blob sealed on Windows does not open under Wine (the
// row then loads without its log-in), and under Wine the seal keeps passwords
// out of plain sight in the registry rather than away from someone who can
// read the user's files. Under Wine a log-in of some 40 bytes seals to 168
// bytes (224 in the profile's base64). UI thread (any thread would do).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/base/secret_codec.h"

namespace win {

class DpapiSecretCodec final : public core::SecretCodec {
 public:
  std::optional<std::string> Protect(std::string_view plain) override;
  std::optional<std::string> Unprotect(std::string_view sealed) override;
};

}  // namespace win
