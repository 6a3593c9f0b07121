// SecretCodec: seals bytes so that only the same user on the same machine can
// open them again (the Windows data protection for the current user; a fake in
// tests). The saved list keeps its rows' passwords through it. UI thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace core {

class SecretCodec {
 public:
  virtual ~SecretCodec() = default;
  // The sealed bytes; nullopt when the system refused to seal them.
  virtual std::optional<std::string> Protect(std::string_view plain) = 0;
  // The bytes that were sealed; nullopt when they cannot be opened: sealed by
  // another user or machine, or damaged.
  virtual std::optional<std::string> Unprotect(std::string_view sealed) = 0;
};

}  // namespace core
