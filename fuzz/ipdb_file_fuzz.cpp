// The input is a whole IPDB location file. Looks up fixed addresses and the
// input's tail read as an address, and checks that every text handed out is
// UTF-8 and that a refused file says why.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/base/codepage.h"
#include "core/proxylist/ipdb_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::string error;
  std::optional<core::IpdbFile> file = core::IpdbFile::FromBytes(bytes, &error);
  if (!file) {
    if (error.empty()) std::abort();
    return 0;
  }
  const std::string_view tail = std::string_view(bytes).substr(size > 15 ? size - 15 : 0);
  for (std::string_view address : {std::string_view("1.2.3.4"), std::string_view("0.0.0.0"),
                                   std::string_view("255.255.255.255"),
                                   std::string_view("183.62.57.1"), tail}) {
    core::IpdbRecord record;
    if (!file->Lookup(address, &record)) continue;
    if (!core::IsValidUtf8(core::IpdbLocationText(record))) std::abort();
  }
  return 0;
}
