// The verify settings dialog, created for real and driven with the messages a
// user's clicks send. Message boxes are answered by a scripted prompt.
#include "win/app/verify_settings_dialog.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "core/base/secret_codec_testing.h"
#include "core/base/text.h"
#include "win/platform/unique_handle.h"
#include "win/platform/wide_text.h"
#include "win/res/resource.h"
#include "win/skin/skin_dpi.h"
#include "win/testing/dialog_driver.h"
#include "win/testing/scripted_prompt.h"
#include "win/ui/dialog_text.h"

namespace win {
namespace {

std::vector<std::string> g_editor_calls;
std::string g_editor_url, g_editor_verify;
bool EditorStub(HWND, std::string* url, std::string* verify) {
  g_editor_calls.push_back(*url);
  if (g_editor_url.empty()) return false;
  *url = g_editor_url;
  *verify = g_editor_verify;
  return true;
}

class VerifySettingsDialogTest : public testing::Test {
 protected:
  void SetUp() override {
    g_editor_calls.clear();
    g_editor_url.clear();
  }

  // Sites A (ticked), B and C.
  void StoreThreeSites() {
    EXPECT_TRUE(store_.WriteInt("Destination Sites", "Favorite site", 1));
    EXPECT_TRUE(store_.WriteText("Destination Sites", "Favorite site_000_URL", "http://a/"));
    EXPECT_TRUE(store_.WriteText("Destination Sites", "Favorite site_000_VerifyString", "va"));
    EXPECT_TRUE(store_.WriteInt("Destination Sites", "Unfavorite site", 2));
    EXPECT_TRUE(store_.WriteText("Destination Sites", "Unfavorite site_000_URL", "http://b/"));
    EXPECT_TRUE(store_.WriteText("Destination Sites", "Unfavorite site_000_VerifyString", "vb"));
    EXPECT_TRUE(store_.WriteText("Destination Sites", "Unfavorite site_001_URL", "http://c/"));
    EXPECT_TRUE(store_.WriteText("Destination Sites", "Unfavorite site_001_VerifyString", "vc"));
  }

  VerifySettingsDialog& Open() {
    settings_ = core::LoadVerifySettings(store_);
    dialog_ = std::make_unique<VerifySettingsDialog>(store_, settings_, prompt_, &secrets_);
    dialog_->SetSiteEditorHook(&EditorStub);
    EXPECT_TRUE(dialog_->Create(nullptr)) << GetLastError();
    dialog_->ShowCentred();
    return *dialog_;
  }

  HWND Dlg() const { return dialog_->hwnd(); }
  void Click(int id) { ClickButton(Dlg(), id); }
  void Type(int id, const std::string& text) { SetDialogItemText(Dlg(), id, text); }
  void Select(int row) {
    HWND list = GetDlgItem(Dlg(), IDC_SITE_LIST);
    ListView_SetItemState(list, -1, 0, LVIS_SELECTED);
    if (row >= 0) ListView_SetItemState(list, row, LVIS_SELECTED, LVIS_SELECTED);
  }
  std::string Urls() const {
    std::string out;
    HWND list = GetDlgItem(Dlg(), IDC_SITE_LIST);
    for (int i = 0; i < ListView_GetItemCount(list); ++i) {
      wchar_t text[256] = {};
      ListView_GetItemText(list, i, 1, text, 256);
      out += WideToUtf8(text) + (ListView_GetCheckState(list, i) ? "+" : "") + " ";
    }
    return out;
  }
  int SelectedRow() const {
    return ListView_GetNextItem(GetDlgItem(Dlg(), IDC_SITE_LIST), -1, LVNI_SELECTED);
  }

  core::MemoryProfileStore store_;
  core::VerifySettings settings_;
  core::XorSecretCodec secrets_;
  ScriptedPrompt prompt_;
  std::unique_ptr<VerifySettingsDialog> dialog_;
};

TEST_F(VerifySettingsDialogTest, AnEmptyProfileShowsTheDefaults) {
  Open();
  EXPECT_EQ(DialogItemText(Dlg(), IDC_THREADS), "30");
  EXPECT_EQ(DialogItemText(Dlg(), IDC_REVERIFY_INTERVAL), "60");
  EXPECT_EQ(DialogItemText(Dlg(), IDC_BEST_COUNT), "8");
  EXPECT_EQ(DialogItemText(Dlg(), IDC_TIME_LESS_THAN), "4.5");
  EXPECT_EQ(SendDlgItemMessageW(Dlg(), IDC_REVERIFY_ROWS, CB_GETCURSEL, 0, 0), 0);
  const std::pair<int, bool> checks[] = {
      {IDC_VERIFY_NEW, false},
      {IDC_REVERIFY_BY_TIME, true},
      {IDC_AUTO_USE_BEST, true},
      {IDC_AUTO_DELETE_FAILED, false},
      {IDC_RESET_FAVORITES, true},
      {IDC_ADD_BEST, true},
      {IDC_ADD_LINK_TIME_LESS, false},
      {IDC_ONLY_SELECTED_TYPES, true},
      {IDC_ADD_HTTP, true},
      {IDC_ADD_SOCKS, true},
      {IDC_ADD_FTP, false},
      {IDC_DETECT_UNTYPED, true},
  };
  for (auto [id, on] : checks) {
    EXPECT_EQ(IsDlgButtonChecked(Dlg(), id) == BST_CHECKED, on) << "control " << id;
  }
  EXPECT_EQ(Urls(), "https://example.com/+ ");
}

TEST_F(VerifySettingsDialogTest, RefusedFieldsShowTheMessageAndSaveNothing) {
  struct Case {
    int id;
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {IDC_THREADS, "0", "“请填入一个在1和200之间的整数。”"},
      {IDC_THREADS, "201", "“请填入一个在1和200之间的整数。”"},
      {IDC_THREADS, "abc", "请键入一个整数。"},
      {IDC_REVERIFY_INTERVAL, "301", "“请填入一个在0和300之间的整数。”"},
      {IDC_BEST_COUNT, "51", "“请填入一个在0和50之间的整数。”"},
      {IDC_TIME_LESS_THAN, "x", "请键入一个数。"},
      {IDC_TIME_LESS_THAN, "50.5", "“请填入一个在0和50之间的数字。”"},
  };
  Open();
  const auto stored = store_.values();
  for (const Case& c : cases) {
    prompt_.shown.clear();
    Click(IDCANCEL);
    dialog_->ShowCentred();
    Type(c.id, c.text);
    Click(IDOK);
    ASSERT_EQ(prompt_.shown.size(), 1u) << c.text;
    EXPECT_EQ(prompt_.shown[0].text, c.message) << c.text;
    EXPECT_TRUE(IsWindowVisible(Dlg())) << c.text;
    EXPECT_TRUE(store_.values() == stored) << c.text;
    EXPECT_EQ(dialog_->settings().threads, 30) << c.text;
  }
}

TEST_F(VerifySettingsDialogTest, ConfirmSavesAndHidesCancelRestores) {
  Open();
  Type(IDC_THREADS, "50");
  CheckDlgButton(Dlg(), IDC_AUTO_USE_BEST, BST_UNCHECKED);
  CheckDlgButton(Dlg(), IDC_DETECT_UNTYPED, BST_UNCHECKED);
  SendDlgItemMessageW(Dlg(), IDC_REVERIFY_ROWS, CB_SETCURSEL, 1, 0);
  Type(IDC_TIME_LESS_THAN, "3");
  EXPECT_EQ(DialogItemText(Dlg(), IDC_CONNECTS_IN_FLIGHT), "1000");
  Type(IDC_CONNECTS_IN_FLIGHT, "250");
  settings_.sites[0].url = "ftp://u:pw@h/";
  Click(IDOK);
  // The password is sealed apart and comes back with the reload on hiding.
  EXPECT_EQ(store_.ReadText("Destination Sites", "Favorite site_000_URL", ""), "ftp://u@h/");
  EXPECT_EQ(dialog_->settings().sites[0].url, "ftp://u:pw@h/");
  EXPECT_TRUE(prompt_.shown.empty());
  EXPECT_FALSE(IsWindowVisible(Dlg()));
  EXPECT_EQ(store_.ReadInt("Verify Settings", "Verify threads number", 0), 50);
  EXPECT_EQ(store_.ReadInt("Verify Settings", "Auto use the best proxy", 1), 0);
  EXPECT_EQ(store_.ReadInt("Verify Settings", "Detect the type of untyped proxies", 1), 0);
  EXPECT_EQ(store_.ReadInt("Verify Settings", "Only verify favorite proxies", 0), 1);
  EXPECT_EQ(store_.ReadText("Verify Settings", "Time less than", ""), "3.000000 seconds");
  EXPECT_EQ(store_.ReadInt("Verify Settings", "Connects in flight", 0), 250);
  EXPECT_EQ(dialog_->settings().threads, 50);

  dialog_->ShowCentred();
  Type(IDC_THREADS, "99");
  Click(IDCANCEL);
  EXPECT_FALSE(IsWindowVisible(Dlg()));
  EXPECT_EQ(dialog_->settings().threads, 50);
  dialog_->ShowCentred();
  EXPECT_EQ(DialogItemText(Dlg(), IDC_THREADS), "50");
}

TEST_F(VerifySettingsDialogTest, ResetFavoritesEnablesItsTenControls) {
  Open();
  const int dependents[] = {
      IDC_ADD_BEST,       IDC_BEST_COUNT,    IDC_BEST_COUNT_LABEL,    IDC_ADD_LINK_TIME_LESS,
      IDC_TIME_LESS_THAN, IDC_SECONDS_LABEL, IDC_ONLY_SELECTED_TYPES, IDC_ADD_HTTP,
      IDC_ADD_SOCKS,      IDC_ADD_FTP};
  for (bool on : {false, true}) {
    CheckDlgButton(Dlg(), IDC_RESET_FAVORITES, on ? BST_CHECKED : BST_UNCHECKED);
    Click(IDC_RESET_FAVORITES);
    EXPECT_EQ(dialog_->settings().reset_favorites, on);
    for (int id : dependents) EXPECT_EQ(IsWindowEnabled(GetDlgItem(Dlg(), id)) != 0, on) << id;
  }
}

TEST_F(VerifySettingsDialogTest, MoveButtons) {
  struct Case {
    int select;
    int button;
    const char* order;
    int selected_after;
  };
  const Case cases[] = {
      {2, IDC_SITE_TOP, "http://c/ http://a/+ http://b/ ", 0},
      {0, IDC_SITE_TOP, "http://a/+ http://b/ http://c/ ", 0},
      {1, IDC_SITE_UP, "http://b/ http://a/+ http://c/ ", 0},
      {0, IDC_SITE_UP, "http://a/+ http://b/ http://c/ ", 0},
      {1, IDC_SITE_DOWN, "http://a/+ http://c/ http://b/ ", 2},
      {2, IDC_SITE_DOWN, "http://a/+ http://b/ http://c/ ", 2},
      {0, IDC_SITE_BOTTOM, "http://b/ http://c/ http://a/+ ", 2},
      {-1, IDC_SITE_BOTTOM, "http://a/+ http://b/ http://c/ ", -1},
  };
  StoreThreeSites();
  Open();
  for (const Case& c : cases) {
    Click(IDCANCEL);  // back to the stored order
    dialog_->ShowCentred();
    Select(c.select);
    Click(c.button);
    EXPECT_EQ(Urls(), c.order) << c.select << " " << c.button;
    EXPECT_EQ(SelectedRow(), c.selected_after) << c.select << " " << c.button;
    EXPECT_EQ(dialog_->settings().FavoriteSiteCount(), 1);
  }
}

TEST_F(VerifySettingsDialogTest, DeleteAsksFirst) {
  StoreThreeSites();
  Open();
  Click(IDC_DELETE_SITE);  // nothing selected: no question
  EXPECT_TRUE(prompt_.shown.empty());
  Select(1);
  prompt_.answers = {IDNO};
  Click(IDC_DELETE_SITE);
  ASSERT_EQ(prompt_.shown.size(), 1u);
  EXPECT_EQ(prompt_.shown[0].text, "您确定要删除这个验证站点？");
  EXPECT_EQ(prompt_.shown[0].caption, "请确认");
  EXPECT_EQ(Urls(), "http://a/+ http://b/ http://c/ ");
  prompt_.answers = {IDYES};
  Click(IDC_DELETE_SITE);
  EXPECT_EQ(Urls(), "http://a/+ http://c/ ");
  EXPECT_EQ(dialog_->settings().sites.size(), 2u);
}

TEST_F(VerifySettingsDialogTest, EditNeedsASelectionAndDoubleClickEditsThatRow) {
  StoreThreeSites();
  Open();
  Click(IDC_EDIT_SITE);
  ASSERT_EQ(prompt_.shown.size(), 1u);
  EXPECT_EQ(prompt_.shown[0].text, "请先选择一个要编辑的验证站点");
  EXPECT_EQ(prompt_.shown[0].caption, "无法完成操作");
  EXPECT_TRUE(g_editor_calls.empty());

  g_editor_url = "http://edited/";
  g_editor_verify = "ve";
  NMITEMACTIVATE click{};
  click.hdr.hwndFrom = GetDlgItem(Dlg(), IDC_SITE_LIST);
  click.hdr.idFrom = IDC_SITE_LIST;
  click.hdr.code = NM_DBLCLK;
  click.iItem = 2;
  SendMessageW(Dlg(), WM_NOTIFY, IDC_SITE_LIST, LPARAM(&click));
  ASSERT_EQ(g_editor_calls.size(), 1u);
  EXPECT_EQ(g_editor_calls[0], "http://c/");
  EXPECT_EQ(Urls(), "http://a/+ http://b/ http://edited/ ");
  EXPECT_EQ(dialog_->settings().sites[2].verify_string, "ve");

  click.iItem = -1;  // a double click beside the rows edits nothing
  SendMessageW(Dlg(), WM_NOTIFY, IDC_SITE_LIST, LPARAM(&click));
  EXPECT_EQ(g_editor_calls.size(), 1u);
}

TEST_F(VerifySettingsDialogTest, NewSitesAndTicksCountAtOnceAndCancelRestores) {
  StoreThreeSites();
  Open();
  g_editor_url = "  http://new/  ";
  g_editor_verify = "vn";
  Click(IDC_NEW_SITE);
  EXPECT_EQ(Urls(), "http://a/+ http://b/ http://c/ http://new/+ ");
  EXPECT_EQ(dialog_->settings().FavoriteSiteCount(), 2);
  ListView_SetCheckState(GetDlgItem(Dlg(), IDC_SITE_LIST), 1, TRUE);
  EXPECT_TRUE(dialog_->settings().sites[1].favorite);
  EXPECT_EQ(dialog_->settings().FavoriteSiteCount(), 3);
  Click(IDCANCEL);
  EXPECT_EQ(dialog_->settings().sites.size(), 3u);
  EXPECT_EQ(dialog_->settings().FavoriteSiteCount(), 1);
}

TEST_F(VerifySettingsDialogTest, AnOwnerMinimisedWhileTheEditorIsOpenLosesNothing) {
  StoreThreeSites();
  Open();
  g_editor_url = "http://new/";
  g_editor_verify = "vn";
  Click(IDC_NEW_SITE);  // not confirmed yet
  // While the editor is open the owner is minimised and restored: the dialog
  // hears WM_SHOWWINDOW with a parent reason, and the stored sites change.
  dialog_->SetSiteEditorHook([this](HWND, std::string* url, std::string* verify) {
    SendMessageW(Dlg(), WM_SHOWWINDOW, FALSE, SW_PARENTCLOSING);
    SendMessageW(Dlg(), WM_SHOWWINDOW, TRUE, SW_PARENTOPENING);
    *url = "http://edited/";
    *verify = "ve";
    return true;
  });
  Select(3);
  Click(IDC_EDIT_SITE);
  EXPECT_EQ(Urls(), "http://a/+ http://b/ http://c/ http://edited/+ ");
  // A real hide drops what was not confirmed.
  ShowWindow(Dlg(), SW_HIDE);
  EXPECT_EQ(dialog_->settings().sites.size(), 3u);
}

TEST_F(VerifySettingsDialogTest, CentredOnASmallOwnerAtTheTopItStaysOnTheScreen) {
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  // Like the floating window: 33 pixels high at the top of the work area.
  HWND owner = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, work.left, work.top, 33,
                               33, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(owner, nullptr);
  settings_ = core::LoadVerifySettings(store_);
  dialog_ = std::make_unique<VerifySettingsDialog>(store_, settings_, prompt_);
  ASSERT_TRUE(dialog_->Create(owner));
  dialog_->ShowCentred();
  RECT r{};
  GetWindowRect(Dlg(), &r);
  EXPECT_GE(r.top, work.top);
  EXPECT_GE(r.left, work.left);
  dialog_.reset();
  DestroyWindow(owner);
}

TEST(SiteColumnWidthsTest, ScaledForTheDpiWithTheUrlColumnFillingTheList) {
  struct Case {
    int list_width, dpi;
    std::array<int, 3> widths;
  } cases[] = {
      {400, 96, {40, 280, 80}},
      {600, 144, {60, 420, 120}},
      {500, 120, {50, 350, 100}},
      {100, 96, {40, 40, 80}},  // too narrow: the URL column keeps some width
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SiteColumnWidths(c.list_width, c.dpi), c.widths) << c.list_width << " at " << c.dpi;
  }
}

TEST_F(VerifySettingsDialogTest, TheSiteColumnsFillTheListWithAndWithoutAScrollBar) {
  for (int sites : {3, 30}) {
    EXPECT_TRUE(store_.WriteInt("Destination Sites", "Unfavorite site", sites));
    for (int i = 0; i < sites; ++i) {
      EXPECT_TRUE(store_.WriteText("Destination Sites", core::Format("Unfavorite site_%03d_URL", i),
                                   core::Format("http://site%d/", i)));
    }
    Open();
    HWND list = GetDlgItem(Dlg(), IDC_SITE_LIST);
    RECT client{};
    GetClientRect(list, &client);
    int total = 0;
    for (int i = 0; i < 3; ++i) total += ListView_GetColumnWidth(list, i);
    EXPECT_EQ(total, client.right) << sites << " sites";
    EXPECT_FALSE(GetWindowLongPtrW(list, GWL_STYLE) & WS_HSCROLL) << sites << " sites";
    EXPECT_EQ(ListView_GetItemCount(list), sites);
  }
}

// The arrow and cross buttons of the site list draw their single symbol in
// solid strokes: every button has rows where the dark ink is two or more
// pixels wide, and enough of it to read at a glance.
TEST_F(VerifySettingsDialogTest, TheArrowAndCrossButtonsDrawSolidGlyphs) {
  Open();
  for (int id : {IDC_SITE_TOP, IDC_SITE_UP, IDC_SITE_DOWN, IDC_SITE_BOTTOM, IDC_DELETE_SITE}) {
    HWND button = GetDlgItem(Dlg(), id);
    RedrawWindow(button, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    RECT r{};
    GetClientRect(button, &r);
    const WindowDc dc(button);
    int dark = 0, thick_rows = 0;
    for (int y = 2; y < r.bottom - 2; ++y) {
      int run = 0, longest = 0;
      for (int x = 2; x < r.right - 2; ++x) {
        const COLORREF c = GetPixel(dc.get(), x, y);
        const bool ink = GetRValue(c) < 100 && GetGValue(c) < 100 && GetBValue(c) < 100;
        dark += ink;
        run = ink ? run + 1 : 0;
        longest = std::max(longest, run);
      }
      thick_rows += longest >= 2;
    }
    // Measured: the dialog's regular face drew "∧" and "∨" with no dark pixel
    // at all at 96 dpi, only grey smoothing.
    EXPECT_GE(dark, ScaleForWindow(button, 10)) << "button " << id;
    EXPECT_GE(thick_rows, 2) << "button " << id;
  }
}

}  // namespace
}  // namespace win
