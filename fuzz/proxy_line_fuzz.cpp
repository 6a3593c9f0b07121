// Fuzzes the proxy line parser and the natural comparison. Besides not crashing,
// an accepted line must come back unchanged through its full-line text, and the
// comparison must be antisymmetric.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

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
    core::DuplicateKey(p.address, p.port, p.type);
  }
  size_t half = size / 2;
  std::string_view a = input.substr(0, half), b = input.substr(half);
  int ab = core::CompareNaturalBytes(a, b);
  int ba = core::CompareNaturalBytes(b, a);
  if ((ab < 0) != (ba > 0) || (ab == 0) != (ba == 0)) std::abort();
  return 0;
}
