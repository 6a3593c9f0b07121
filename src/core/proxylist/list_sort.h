// Sorting orders of the proxy list, as permutations. Users know the list's
// ordering rules from the row-by-row insertion the list has always done (each row
// moves in front of the first earlier row it beats); these functions give exactly
// that order in O(n log n). Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
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

// One row's key for KeyedSortOrder. Two ranked keys compare by rank, which the
// caller gives so that it orders them exactly as CompareNaturalBytes orders their
// texts (equal ranks for texts it calls equal); any other pair compares by text
// (code page 936 bytes). Ranks spare a million-row sort the text comparisons.
struct SortKey {
  uint64_t rank = 0;
  bool ranked = false;
  std::string_view text;
};

// The order TextSortOrder gives for the keys' texts.
std::vector<size_t> KeyedSortOrder(const std::vector<SortKey>& keys, int flag);

// The rank of a dotted IPv4 address ("1.2.3.4", octets of up to five digits,
// leading zeros allowed, each at most 65535) that orders such addresses as
// CompareNaturalBytes does; false for any other text.
bool DottedAddressRank(std::string_view text, uint64_t* rank);

// Ranks for a set of distinct texts (code page 936 bytes), in the same sense:
// ranks[i] belongs to texts[i].
std::vector<uint64_t> NaturalRanks(const std::vector<std::string>& texts);

}  // namespace core
