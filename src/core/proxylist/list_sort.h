// Sorting orders of the proxy list, as permutations. Users know the list's
// ordering rules from the row-by-row insertion the list has always done (each row
// moves in front of the first earlier row it beats); these functions give exactly
// that order in O(n log n). Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace core {

// Order of rows sorted by score. flag 1: highest first, among equal scores the
// later row first, rows with a negative score after all others in their original
// order. flag 0: lowest first, equal scores in original order, and each row with
// a negative score stays right behind the row it followed when it was reached.
// Returns the original index of each row of the sorted list.
std::vector<size_t> ScoreSortOrder(const std::vector<int32_t>& scores, int flag);

// Order of rows sorted by text with CompareNaturalBytes over `keys` (code page
// 936 bytes). flag 1: ascending, equal texts in original order; flag 0:
// descending, equal texts later row first.
std::vector<size_t> TextSortOrder(const std::vector<std::string>& keys, int flag);

}  // namespace core
