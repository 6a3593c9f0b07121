#include "win/app/list_save_service.h"

#include <gtest/gtest.h>

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
    HWND window = app_->list_save().window();
    do {
      SendMessageW(window, WM_TIMER, ListSaveService::kTimerSave, 0);
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

// Results alone wait for 30 s from the first one, or for the end of the run.
TEST_F(ListSaveServiceTest, ResultsAreSavedEveryThirtySecondsAndAtTheRunsEnd) {
  MakeServices();
  core::ProxyList& list = switcher_->list();
  list.AddProxy("1.1.1.1:80", false);
  clock_->Advance(1000);
  Fire();
  ASSERT_EQ(Saved().size(), 1u);
  const struct {
    uint32_t advance;
    bool run_ends;
    bool saved;
  } steps[] = {{1000, false, false}, {28999, false, false}, {1, false, true}, {10, true, true}};
  for (const auto& s : steps) {
    // A value every save writes, taken away to see whether one ran.
    EXPECT_TRUE(profile_.DeleteValue(core::kProxyListSection, "UnfavoriteProxy"));
    list.SetVerifyResult(0, "1.0", "[1]", int32_t(s.advance));
    clock_->Advance(s.advance);
    if (s.run_ends) switcher_->events().Tell([](AppObserver& o) { o.OnVerifyRunControls(false); });
    Fire();
    EXPECT_EQ(profile_.Has(core::kProxyListSection, "UnfavoriteProxy"), s.saved) << s.advance;
  }
}

}  // namespace
}  // namespace win
