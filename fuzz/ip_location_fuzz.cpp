// The input is a whole location database file. Looks up fixed addresses, the
// range starts the file itself names (so searches get deep into hostile files)
// and the input's tail read as an address, and checks that a found record holds
// the key and that every text handed out is UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/base/codepage.h"
#include "core/proxylist/ip_location.h"

namespace {

bool IsAscii(std::string_view s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

void Lookup(core::IpLocationDb& db, std::string_view address) {
  core::IpLocation loc;
  if (!db.LookupIpLocation(address, &loc)) return;
  const std::string key = core::IpLookupKey(address);
  if (IsAscii(loc.range_start)) Check(!(std::string_view(key) < loc.range_start));
  if (IsAscii(loc.range_end)) Check(std::string_view(key) <= loc.range_end);
  for (const std::string* s :
       {&loc.country, &loc.area, &loc.range_start, &loc.range_end, &loc.extra}) {
    Check(core::IsValidUtf8(*s));
  }
  Check(core::IsValidUtf8(core::LocationText(loc)));
}

// The 15 bytes where record k's range start would be, when they are in the input.
std::string_view RecordStart(std::string_view file, uint64_t k) {
  if (file.size() < 12) return {};
  const auto* u = reinterpret_cast<const unsigned char*>(file.data());
  const uint64_t base = u[8] | u[9] << 8;
  const uint64_t stride = u[10] | u[11] << 8;
  const uint64_t at = k * stride + base + 1;
  if (at >= file.size()) return {};
  return file.substr(at, 15);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  core::IpLocationDb db = core::IpLocationDb::FromBytes(bytes);

  for (const char* address : {"1.2.3.4", "8.8.8.8", "61.135.1.2", "0.0.0.0", "255.255.255.255",
                              "999.999.999.999", "4294967296.1.1.1", "gateway"}) {
    Lookup(db, address);
  }
  for (uint64_t k : {1, 2, 3, 7, 100}) Lookup(db, RecordStart(bytes, k));
  const std::string_view file(bytes);
  Lookup(db, file.substr(file.size() > 24 ? file.size() - 24 : 0));
  return 0;
}
