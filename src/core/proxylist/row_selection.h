// RowSelection: which rows of a list are selected, kept as sorted, disjoint
// ranges [first, last) of row positions that never touch. Selecting or clearing
// any number of rows at once changes a few ranges, never every row, so a click
// in a list of a million rows costs as little as in a list of ten. ProxyList
// owns one and moves it along as rows are added, removed and reordered.
// UI thread only, like its list.
#pragma once

#include <cstddef>
#include <vector>

namespace core {

class RowSelection {
 public:
  struct Range {
    size_t first = 0;
    size_t last = 0;  // one past the last selected row
    bool operator==(const Range&) const = default;
  };

  // O(log ranges).
  bool Contains(size_t row) const;
  size_t count() const { return count_; }
  bool empty() const { return count_ == 0; }
  // In row order; no two share or touch a row.
  const std::vector<Range>& ranges() const { return ranges_; }

  void Clear();
  // Selects rows [first, last) besides those selected already; Remove
  // unselects them. Both do nothing when first >= last.
  void Add(size_t first, size_t last);
  void Remove(size_t first, size_t last);
  void Toggle(size_t row);

  // The list changed its rows; the selection follows them.
  // Row `row` went in front of all others, which kept their order.
  void MoveToFront(size_t row);
  // The rows with gone[i] left the list; the others closed up in order.
  void EraseRows(const std::vector<bool>& gone);
  // The rows were reordered: position j now holds the row that was at order[j].
  void Permute(const std::vector<size_t>& order);

 private:
  // Selects `row`, which lies past every selected row.
  void Append(size_t row);

  std::vector<Range> ranges_;
  size_t count_ = 0;
};

}  // namespace core
