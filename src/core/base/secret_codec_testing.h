// A SecretCodec for tests and fuzz targets: seals by a marker naming the key
// and the bytes XORed with it, so that a value sealed under another key (another
// user) or damaged does not open. Any thread, one instance per thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/base/secret_codec.h"

namespace core {

class XorSecretCodec final : public SecretCodec {
 public:
  explicit XorSecretCodec(char key = 'k') : key_(key) {}
  std::optional<std::string> Protect(std::string_view plain) override {
    if (refuse_) return std::nullopt;
    std::string out = std::string("sealed") + key_;
    for (char c : plain) out += char(c ^ key_);
    return out;
  }
  std::optional<std::string> Unprotect(std::string_view sealed) override {
    std::string head = std::string("sealed") + key_;
    if (!sealed.starts_with(head)) return std::nullopt;
    std::string out;
    for (char c : sealed.substr(head.size())) out += char(c ^ key_);
    return out;
  }
  // Refuses every seal, as a system without data protection does.
  void set_refuse(bool on) { refuse_ = on; }

 private:
  char key_;
  bool refuse_ = false;
};

}  // namespace core
