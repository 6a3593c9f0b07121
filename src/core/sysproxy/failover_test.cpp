#include "core/sysproxy/failover.h"

#include <gtest/gtest.h>

namespace core {
namespace {

TEST(FailoverTest, WhoMarksTheRowAndWhenSwitchingMovesOn) {
  const RowId kInUse{7}, kOther{9};
  using S = FailureSource;
  struct Case {
    S source;
    RowId row;
    bool failover;
    bool mark;
    bool move_on;
  } cases[] = {
      {S::kRelay, kInUse, true, true, true},
      {S::kRelay, kInUse, false, true, false},
      // A later candidate of a connection: marked, but it is not in use.
      {S::kRelay, kOther, true, true, false},
      {S::kExitCheck, kInUse, true, true, true},
      {S::kExitCheck, kInUse, false, false, false},
      // A check of a row the user has left since.
      {S::kExitCheck, kOther, true, true, false},
      {S::kVerification, kInUse, true, false, true},
      {S::kVerification, kOther, true, false, false},
      {S::kExpired, kInUse, false, false, true},
      {S::kExpired, kOther, true, false, false},
      {S::kRelay, kNoRow, true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << int(c.source) << " row " << uint64_t(c.row) << " failover " << c.failover);
    FailoverDecision d = DecideFailover({c.row, c.source, "超时"}, kInUse, c.failover);
    EXPECT_EQ(d.mark_row, c.mark);
    EXPECT_EQ(d.move_on, c.move_on);
    if (d.mark_row) EXPECT_EQ(d.result, "超时");
  }
}

}  // namespace
}  // namespace core
