#include "core/proxylist/row_selection.h"

#include <algorithm>
#include <iterator>

namespace core {

bool RowSelection::Contains(size_t row) const {
  auto after = std::upper_bound(ranges_.begin(), ranges_.end(), row,
                                [](size_t r, const Range& range) { return r < range.first; });
  return after != ranges_.begin() && row < std::prev(after)->last;
}

void RowSelection::Clear() {
  ranges_.clear();
  count_ = 0;
}

void RowSelection::Add(size_t first, size_t last) {
  if (first >= last) return;
  // Every range that overlaps or touches [first, last) merges with it.
  auto lo = std::lower_bound(ranges_.begin(), ranges_.end(), first,
                             [](const Range& range, size_t r) { return range.last < r; });
  auto hi = std::upper_bound(lo, ranges_.end(), last,
                             [](size_t r, const Range& range) { return r < range.first; });
  if (lo == hi) {
    ranges_.insert(lo, Range{first, last});
    count_ += last - first;
    return;
  }
  for (auto it = lo; it != hi; ++it) count_ -= it->last - it->first;
  *lo = Range{std::min(first, lo->first), std::max(last, std::prev(hi)->last)};
  count_ += lo->last - lo->first;
  ranges_.erase(std::next(lo), hi);
}

void RowSelection::Remove(size_t first, size_t last) {
  if (first >= last) return;
  auto lo = std::lower_bound(ranges_.begin(), ranges_.end(), first,
                             [](const Range& range, size_t r) { return range.last <= r; });
  auto hi = std::lower_bound(lo, ranges_.end(), last,
                             [](const Range& range, size_t r) { return range.first < r; });
  if (lo == hi) return;
  // What stays of the first and the last range hit.
  Range pieces[2] = {{lo->first, first}, {last, std::prev(hi)->last}};
  for (auto it = lo; it != hi; ++it) count_ -= it->last - it->first;
  auto at = ranges_.erase(lo, hi);
  for (const Range& piece : pieces) {
    if (piece.first >= piece.last) continue;
    at = std::next(ranges_.insert(at, piece));
    count_ += piece.last - piece.first;
  }
}

void RowSelection::Toggle(size_t row) {
  if (Contains(row)) {
    Remove(row, row + 1);
  } else {
    Add(row, row + 1);
  }
}

void RowSelection::Append(size_t row) {
  if (!ranges_.empty() && ranges_.back().last == row) {
    ++ranges_.back().last;
  } else {
    ranges_.push_back(Range{row, row + 1});
  }
  ++count_;
}

void RowSelection::MoveToFront(size_t row) {
  bool was = Contains(row);
  Remove(row, row + 1);
  // The rows in front of `row` move one place on; those after it stay.
  auto it = ranges_.begin();
  for (; it != ranges_.end() && it->last <= row; ++it) {
    ++it->first;
    ++it->last;
  }
  // The last range moved may now touch the first that stayed.
  if (it != ranges_.begin() && it != ranges_.end() && std::prev(it)->last == it->first) {
    std::prev(it)->last = it->last;
    ranges_.erase(it);
  }
  if (was) Add(0, 1);
}

void RowSelection::EraseRows(const std::vector<bool>& gone) {
  // The kept rows of one range stay next to each other: the range only moves
  // up by the rows removed before each of its ends.
  size_t at = 0;
  size_t removed = 0;
  auto new_position = [&](size_t row) {
    for (; at < row && at < gone.size(); ++at) removed += gone[at] ? 1 : 0;
    return row - removed;
  };
  std::vector<Range> kept;
  count_ = 0;
  for (const Range& range : ranges_) {
    Range moved{new_position(range.first), new_position(range.last)};
    if (moved.first == moved.last) continue;
    // The rows between two ranges may all have gone.
    if (!kept.empty() && kept.back().last == moved.first) {
      kept.back().last = moved.last;
    } else {
      kept.push_back(moved);
    }
    count_ += moved.last - moved.first;
  }
  ranges_ = std::move(kept);
}

void RowSelection::Permute(const std::vector<size_t>& order) {
  std::vector<bool> was(order.size());
  for (const Range& range : ranges_) {
    size_t last = std::min(range.last, was.size());
    if (range.first < last)
      std::fill(was.begin() + ptrdiff_t(range.first), was.begin() + ptrdiff_t(last), true);
  }
  Clear();
  for (size_t j = 0; j < order.size(); ++j) {
    if (order[j] < was.size() && was[order[j]]) Append(j);
  }
}

}  // namespace core
