// Fuzzes the proxy line parser and the natural comparison. Besides not crashing,
// an accepted line must come back unchanged through its full-line text (and its
// log-in through the line that carries it), and the comparison must be
// antisymmetric.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/net/upstream.h"
#include "core/proxylist/natural_compare.h"
#include "core/proxylist/proxy_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  core::ProxyLine p;
  if (core::ParseProxyLine(input, &p)) {
    if (p.address.empty() || p.port.empty()) std::abort();
    // The remark may hold "$", "@" and ":" but the address and port cannot.
    std::string full = core::FullLineText(p.address, p.port, p.type, p.remark);
    core::ProxyLine back;
    if (!core::ParseProxyLine(full, &back)) std::abort();
    if (back.address != p.address || back.port != p.port || back.type != p.type ||
        back.remark != p.remark) {
      std::abort();
    }
    core::DuplicateKey(p.address, p.port, p.type, p.user);
    // A log-in comes back whole through the line that carries it.
    if (p.has_credentials()) {
      std::string with =
          core::CredentialLineText(p.address, p.port, p.type, p.user, p.password, p.remark);
      if (!core::ParseProxyLine(with, &back)) std::abort();
      if (back.address != p.address || back.port != p.port || back.user != p.user ||
          back.password != p.password || back.remark != p.remark ||
          core::ProtocolOfType(back.type) != core::ProtocolOfType(p.type)) {
        std::abort();
      }
    }
  }
  size_t half = size / 2;
  std::string_view a = input.substr(0, half), b = input.substr(half);
  int ab = core::CompareNaturalBytes(a, b);
  int ba = core::CompareNaturalBytes(b, a);
  if ((ab < 0) != (ba > 0) || (ab == 0) != (ba == 0)) std::abort();
  return 0;
}
