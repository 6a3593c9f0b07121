// Helpers for the net tests: byte strings written as hex and shown as hex in failures.
// Test code only; any thread.
#pragma once

#include <string>
#include <string_view>

namespace core {

// "05 01 00" -> the three bytes; blanks are ignored, '|' starts literal text up to the
// next '|' ("03 0b |example.com| 01 bb").
std::string Bytes(std::string_view spec);

// Printable ASCII as is, other bytes as "\xNN".
std::string Shown(std::string_view bytes);

}  // namespace core
