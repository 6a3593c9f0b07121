#include "core/proxylist/row_selection.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace core {
namespace {

std::string Text(const RowSelection& s) {
  std::string text;
  for (const RowSelection::Range& r : s.ranges()) {
    text += (text.empty() ? "" : " ") + std::to_string(r.first) + "-" + std::to_string(r.last);
  }
  return text;
}

// Each step works on the selection the step before it left.
TEST(RowSelectionTest, RangesAfterEachChange) {
  const struct {
    const char* what;
    std::function<void(RowSelection&)> change;
    const char* ranges;
    size_t count;
  } steps[] = {
      {"add", [](RowSelection& s) { s.Add(2, 5); }, "2-5", 3},
      {"empty range", [](RowSelection& s) { s.Add(7, 7); }, "2-5", 3},
      {"apart", [](RowSelection& s) { s.Add(8, 10); }, "2-5 8-10", 5},
      {"touching merges", [](RowSelection& s) { s.Add(5, 6); }, "2-6 8-10", 6},
      {"bridging", [](RowSelection& s) { s.Add(6, 8); }, "2-10", 8},
      {"inside", [](RowSelection& s) { s.Add(3, 4); }, "2-10", 8},
      {"splits", [](RowSelection& s) { s.Remove(4, 6); }, "2-4 6-10", 6},
      {"toggle off", [](RowSelection& s) { s.Toggle(2); }, "3-4 6-10", 5},
      {"toggle on", [](RowSelection& s) { s.Toggle(5); }, "3-4 5-10", 6},
      {"over several", [](RowSelection& s) { s.Add(0, 12); }, "0-12", 12},
      {"front cut", [](RowSelection& s) { s.Remove(0, 2); }, "2-12", 10},
      {"end cut", [](RowSelection& s) { s.Remove(10, 20); }, "2-10", 8},
      {"nothing there", [](RowSelection& s) { s.Remove(20, 30); }, "2-10", 8},
      // Rows 0 2 4 6 8 10 12 go: 3 5 7 9 close up to 1 2 3 4.
      {"erase rows",
       [](RowSelection& s) {
         s.Remove(4, 5);
         s.EraseRows({1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1});
       },
       "1-5", 4},
      // Row 2 goes first; rows 0 and 1 move one place on.
      {"to front from inside", [](RowSelection& s) { s.MoveToFront(2); }, "0-1 2-5", 4},
      {"to front from outside", [](RowSelection& s) { s.MoveToFront(7); }, "1-2 3-6", 4},
      {"to front rejoins", [](RowSelection& s) { s.MoveToFront(2); }, "2-6", 4},
      // New position j holds old row order[j].
      {"permute",
       [](RowSelection& s) {
         s.Permute({5, 0, 1, 2, 3, 4, 6});
       },
       "0-1 3-6", 4},
      {"clear", [](RowSelection& s) { s.Clear(); }, "", 0},
  };
  RowSelection s;
  for (const auto& step : steps) {
    step.change(s);
    EXPECT_EQ(Text(s), step.ranges) << step.what;
    EXPECT_EQ(s.count(), step.count) << step.what;
  }
}

// Random changes against a plain flag per row.
TEST(RowSelectionTest, AgreesWithAFlagPerRow) {
  uint32_t seed = 7;
  auto next = [&seed](size_t n) {
    seed = seed * 1103515245u + 12345u;
    return size_t(seed >> 8) % n;
  };
  RowSelection s;
  std::vector<bool> rows(40);
  for (int step = 0; step < 4000; ++step) {
    size_t a = next(rows.size()), b = a + next(6);
    switch (next(6)) {
      case 0:
      case 1: {
        bool on = next(2) == 0;
        on ? s.Add(a, b) : s.Remove(a, b);
        for (size_t i = a; i < b && i < rows.size(); ++i) rows[i] = on;
        if (b > rows.size()) s.Remove(rows.size(), b);
        break;
      }
      case 2:
        s.Toggle(a);
        rows[a] = !rows[a];
        break;
      case 3: {
        s.MoveToFront(a);
        bool moved = rows[a];
        rows.erase(rows.begin() + ptrdiff_t(a));
        rows.insert(rows.begin(), moved);
        break;
      }
      case 4: {
        std::vector<size_t> order(rows.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = (i * 7 + a) % order.size();
        s.Permute(order);
        std::vector<bool> before = rows;
        for (size_t i = 0; i < order.size(); ++i) rows[i] = before[order[i]];
        break;
      }
      case 5: {
        std::vector<bool> gone(rows.size()), kept;
        for (size_t i = 0; i < gone.size(); ++i) gone[i] = next(4) == 0;
        s.EraseRows(gone);
        for (size_t i = 0; i < rows.size(); ++i) {
          if (!gone[i]) kept.push_back(rows[i]);
        }
        kept.resize(40);  // rows added at the end come unselected
        rows = kept;
        break;
      }
    }
    size_t count = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
      ASSERT_EQ(s.Contains(i), rows[i]) << "step " << step << " row " << i << ": " << Text(s);
      count += rows[i] ? 1 : 0;
    }
    ASSERT_EQ(s.count(), count) << "step " << step;
    for (size_t r = 1; r < s.ranges().size(); ++r) {
      ASSERT_LT(s.ranges()[r - 1].last, s.ranges()[r].first) << "step " << step << ": " << Text(s);
    }
  }
}

}  // namespace
}  // namespace core
