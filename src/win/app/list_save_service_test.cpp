#include "win/app/list_save_service.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "core/proxylist/list_profile.h"
#include "win/testing/app_fixture.h"

namespace win {
namespace {

class ListSaveServiceTest : public AppWindowTest {
 protected:
  // The timer as it fires, until the save it starts has ended.
  void Fire() {
    do {
      FireTimer(app_->list_save().save_timer());
    } while (app_->list_save().saving());
  }
  // The rows the profile would give back at the next start.
  std::vector<std::string> Saved() {
    core::ProxyList list;
    core::LoadSavedList(list, profile_, &secrets_);
    std::vector<std::string> rows;
    for (size_t i = 0; i < list.size(); ++i) rows.push_back(list.RowLineWithLogin(int64_t(i)));
    return rows;
  }
};

// The list reaches the profile a second after a change, not before; a profile
// that refuses the write is said once, tried again at the next change, and
// the list loses nothing.
TEST_F(ListSaveServiceTest, ChangesAreSavedWithinASecondAndARefusalIsSaidOnce) {
  MakeServices();
  core::ProxyList& list = switcher_->list();
  const struct {
    const char* change;  // a line to add ("" none); "tick" ticks row 0
    uint32_t advance;
    bool read_only;
    size_t saved_rows;
    size_t messages;
  } steps[] = {
      {"1.1.1.1:80", 999, false, 0, 0},
      {"", 1, false, 1, 0},
      {"socks5://me:pw@2.2.2.2:1080", 1000, true, 1, 1},
      {"3.3.3.3:80", 1000, true, 1, 1},  // refused again: not said again
      {"tick", 1000, false, 3, 1},
      {"4.4.4.4:80", 1000, true, 3, 2},  // refused after a save that worked: said
  };
  for (const auto& s : steps) {
    profile_.set_read_only(s.read_only);
    if (std::string(s.change) == "tick") {
      list.SetChecked(0, true);
    } else if (*s.change) {
      list.AddProxy(s.change, false);
    }
    clock_->Advance(s.advance);
    Fire();
    EXPECT_EQ(Saved().size(), s.saved_rows) << s.change;
    ASSERT_EQ(prompt_.shown.size(), s.messages) << s.change;
  }
  EXPECT_EQ(prompt_.shown[0].text.rfind(kListSaveFailed, 0), 0u) << prompt_.shown[0].text;
  EXPECT_EQ(Saved(),
            (std::vector<std::string>{"1.1.1.1:80", "socks5://me:pw@2.2.2.2:1080", "3.3.3.3:80"}));
  EXPECT_EQ(list.size(), 4u);
  profile_.set_read_only(false);
  EXPECT_TRUE(app_->list_save().SaveNow());
  EXPECT_EQ(Saved().size(), 4u);
}

// A change to a long list writes a value or two into the journal, not the list.
// Results are no part of the saved list: alone they write nothing, however long
// a run; a type found during one is saved within a second like any change. A
// new order can only be said by a whole save.
TEST_F(ListSaveServiceTest, ChangesWriteOnlyWhatChanged) {
  MakeServices();
  core::ProxyList& list = switcher_->list();
  for (int i = 0; i < 1000; ++i) list.AddProxy("10.0.0.1:" + std::to_string(1000 + i), false);
  clock_->Advance(1000);
  Fire();
  ASSERT_EQ(Saved().size(), 1000u);
  const struct {
    const char* name;
    std::function<void()> change;
    int writes_least, writes_most;  // writes and deletes of the save
  } steps[] = {
      {"a tick", [&] { list.SetChecked(500, true); }, 2, 2},
      {"results", [&] { list.SetVerifyResult(0, "1.0", "[1]", 5); }, 0, 0},
      {"a type found", [&] { list.SetRowType(1, "SOCKS5"); }, 2, 2},
      {"a sort", [&] { list.SortListColumn(core::kColPort, 2); }, 2000, 1 << 20},
  };
  for (const auto& s : steps) {
    s.change();
    clock_->Advance(1000);
    switcher_->events().Tell([](AppObserver& o) { o.OnVerifyRunControls(false); });
    profile_.set_changes_left(1 << 30);
    Fire();
    int writes = (1 << 30) - profile_.changes_left();
    profile_.set_changes_left(-1);
    EXPECT_GE(writes, s.writes_least) << s.name;
    EXPECT_LE(writes, s.writes_most) << s.name;
    std::vector<std::string> saved = Saved(), live;
    for (size_t i = 0; i < list.size(); ++i) live.push_back(list.RowLineWithLogin(int64_t(i)));
    std::sort(saved.begin(), saved.end());
    std::sort(live.begin(), live.end());
    EXPECT_EQ(saved, live) << s.name;
  }
}

}  // namespace
}  // namespace win
