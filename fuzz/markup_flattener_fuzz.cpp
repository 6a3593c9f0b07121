// Fuzzes the markup flattener with arbitrary text. The flattened text is never
// longer than its input, holds no control byte but tab, line feed and the three
// table marks, and holds a mark only when the input had a tag to make it.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/proxylist/markup_flattener.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string flat = core::FlattenMarkup(input);
  if (flat.size() > input.size()) std::abort();
  const bool tags = input.find('<') != std::string_view::npos;
  for (char c : flat) {
    bool mark = c == core::kMarkupCell || c == core::kMarkupRow || c == core::kMarkupTable;
    if (mark && !tags) std::abort();
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && !mark) std::abort();
  }
  return 0;
}
