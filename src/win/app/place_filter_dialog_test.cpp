// The place filter's dialog, opened by the main dialog's button and driven
// from inside its modal loop as a user would: the choice goes into force, into
// the profile and into what automatic switching picks.
#include "win/app/place_filter_dialog.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "win/platform/wide_text.h"
#include "win/res/resource.h"
#include "win/testing/app_fixture.h"
#include "win/testing/dialog_driver.h"
#include "win/testing/test_servers.h"
#include "win/ui/dialog_text.h"

namespace win {
namespace {

class PlaceFilterDialogTest : public AppWindowTest {
 protected:
  // Presses the main dialog's button; `act` runs on the place dialog once it
  // is open, and whatever it leaves open is cancelled.
  void OpenPlaces(HWND main_dialog, std::function<void(HWND)> act) {
    ModalDriver::DriveWhenOpen([](HWND hwnd) { return WindowTextUtf8(hwnd) == "选择地区和运营商"; },
                               [act = std::move(act)](HWND places) {
                                 act(places);
                                 if (IsWindow(places))
                                   PostMessageW(places, WM_COMMAND, IDCANCEL, 0);
                               });
    ClickButton(main_dialog, IDC_PLACE_FILTER);
  }
  // The row of the provinces' list that names `name`.
  static int ProvinceRow(HWND places, const wchar_t* name) {
    LVFINDINFOW find{LVFI_STRING, name};
    return ListView_FindItem(GetDlgItem(places, IDC_PLACE_PROVINCES), -1, &find);
  }
  // One tick of automatic switching and the system proxy it leaves.
  std::string Tick() {
    FireTimer(app_->auto_switch().switch_timer());
    PumpUntil([this] { return !app_->auto_switch().state().switch_pending(); });
    return ProxyValue("ProxyServer");
  }
};

TEST_F(PlaceFilterDialogTest, TickedPlacesSteerSwitchingAndAreSaved) {
  HWND dlg = OpenDialog().hwnd();
  core::ProxyList& list = switcher_->list();
  for (const char* line :
       {"10.0.0.1:80$北京 联通", "10.0.0.2:80$广东广州 电信", "10.0.0.3:80$广东深圳 移动"}) {
    ASSERT_EQ(list.AddProxy(line, false), core::AddResult::kAdded);
  }
  std::string matching;
  OpenPlaces(dlg, [&matching](HWND places) {
    ListView_SetCheckState(GetDlgItem(places, IDC_PLACE_PROVINCES), ProvinceRow(places, L"广东"),
                           TRUE);
    matching = DialogItemText(places, IDC_PLACE_MATCHING);
    SendMessageW(places, WM_COMMAND, IDOK, 0);
  });
  EXPECT_EQ(matching, "符合条件的IP: 2 / 3");
  EXPECT_EQ(profile_.ReadInt("Place Filter", "Count", 0), 1);
  EXPECT_EQ(profile_.ReadText("Place Filter", "Place_0", ""), "P:广东");
  EXPECT_NE(DialogItemText(dlg, IDC_LIST_GROUP).find("符合地区（广东）: 2"), std::string::npos);

  // Beijing's row is passed over.
  app_->auto_switch().Toggle("3600");  // the ticks are sent by hand
  EXPECT_EQ((std::vector<std::string>{Tick(), Tick(), Tick()}),
            (std::vector<std::string>{"10.0.0.2:80", "10.0.0.3:80", "10.0.0.2:80"}));
  // No usable row left in Guangdong: the proxy stays and the title says why.
  list.SetVerifyResult(1, "", "", 0);
  list.SetVerifyResult(2, "", "", 0);
  EXPECT_EQ(Tick(), "10.0.0.2:80");
  EXPECT_NE(WindowTextUtf8(dlg).find("没有符合地区条件的可用IP（广东）"), std::string::npos);
  app_->auto_switch().Toggle("3600");

  bool ticked = false;
  OpenPlaces(dlg, [&ticked](HWND places) {
    ticked = ListView_GetCheckState(GetDlgItem(places, IDC_PLACE_PROVINCES),
                                    ProvinceRow(places, L"广东"));
  });
  EXPECT_TRUE(ticked) << "the filter in force comes up ticked";

  // A refused write is shown, and the filter still applies.
  profile_.set_read_only(true);
  switcher_->SetPlaceFilter({});
  EXPECT_TRUE(switcher_->place_filter().empty());
  ASSERT_FALSE(prompt_.shown.empty());
  EXPECT_EQ(prompt_.shown.back().text.rfind("保存地区条件失败", 0), 0u);
}

}  // namespace
}  // namespace win
