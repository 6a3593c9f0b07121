// The input is a JSON document (the location database's header, a provider's
// answer). A refused document says where; an accepted one is walked whole.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/base/json_reader.h"

namespace {

size_t Walk(const core::JsonValue& v) {
  size_t n = 1;
  for (const core::JsonValue& item : v.items) n += Walk(item);
  for (const core::JsonMember& m : v.members) n += Walk(m.second);
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string error;
  std::optional<core::JsonValue> v = core::ParseJson(text, &error);
  if (!v) {
    if (error.empty()) std::abort();
    return 0;
  }
  // Every value stands for at least one byte of the input.
  if (Walk(*v) > size + 1) std::abort();
  v->StringOr("ip", "");
  return 0;
}
