// Natural-order comparison of list texts: runs of digits compare by value,
// letters without regard to case, and leading blanks and punctuation are skipped.
// Texts are compared as code page 936 bytes, the way users of the program's home
// systems expect Chinese locations to sort. Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

namespace core {

// Compares two byte strings (already in code page 936). Negative when a sorts
// before b, 0 when they are equal for sorting, positive otherwise.
int CompareNaturalBytes(std::string_view a, std::string_view b);

// The same for UTF-8 texts: both are converted to code page 936 first.
int CompareNatural(std::string_view a, std::string_view b);

// The bytes CompareNatural compares: build them once per row before sorting.
std::string NaturalSortKey(std::string_view utf8);

}  // namespace core
