// The download settings dialog, created for real and driven with the messages a
// user's clicks send. Message boxes are answered by a scripted prompt.
#include "win/app/download_settings_dialog.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "core/base/text.h"
#include "win/platform/wide_text.h"
#include "win/res/resource.h"
#include "win/testing/dialog_driver.h"
#include "win/testing/scripted_prompt.h"
#include "win/ui/dialog_text.h"

namespace win {
namespace {

constexpr std::string_view kSection = core::kDownloadSettingsSection;

class DownloadSettingsDialogTest : public ::testing::Test {
 protected:
  void Open() {
    core::LoadDownloadSettings(store_, &settings_);
    dialog_ = std::make_unique<DownloadSettingsDialog>(store_, settings_, prompt_);
    ASSERT_TRUE(dialog_->Create(nullptr)) << GetLastError();
    dialog_->ShowCentred();
  }

  HWND Dlg() const { return dialog_->hwnd(); }
  void Click(int id) { ClickButton(Dlg(), id); }
  bool Checked(int id) const { return IsDlgButtonChecked(Dlg(), id) == BST_CHECKED; }
  void Tick(int id, bool on) { CheckDlgButton(Dlg(), id, on ? BST_CHECKED : BST_UNCHECKED); }
  std::vector<std::string> ComboEntries() const {
    std::vector<std::string> out;
    HWND combo = GetDlgItem(Dlg(), IDC_LIST_URL);
    int count = int(SendMessageW(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
      wchar_t text[512] = {};
      SendMessageW(combo, CB_GETLBTEXT, WPARAM(i), LPARAM(text));
      out.push_back(WideToUtf8(text));
    }
    return out;
  }
  int ComboSelection() const {
    return int(SendDlgItemMessageW(Dlg(), IDC_LIST_URL, CB_GETCURSEL, 0, 0));
  }

  core::MemoryProfileStore store_;
  core::DownloadSettings settings_;
  ScriptedPrompt prompt_;
  std::unique_ptr<DownloadSettingsDialog> dialog_;
};

TEST_F(DownloadSettingsDialogTest, FirstRunShowsTheTemplateUrlsAndTheDefaults) {
  Open();
  std::vector<std::string> expected(std::begin(core::kTemplateListUrls),
                                    std::end(core::kTemplateListUrls));
  expected.emplace_back(core::kDefaultListUrl);
  EXPECT_EQ(ComboEntries(), expected);
  EXPECT_EQ(ComboSelection(), int(std::size(core::kTemplateListUrls)));
  EXPECT_EQ(DialogItemText(Dlg(), IDC_LIST_URL), core::kDefaultListUrl);
  EXPECT_FALSE(Checked(IDC_DOWNLOAD_AT_START));
  EXPECT_FALSE(Checked(IDC_ADD_AS_FAVORITE));
  EXPECT_TRUE(Checked(IDC_KEEP_EXISTING));
  EXPECT_EQ(DialogItemText(Dlg(), IDC_DOWNLOAD_INTERVAL), "0");
  EXPECT_TRUE(IsWindowVisible(Dlg()));
}

TEST_F(DownloadSettingsDialogTest, RefusedIntervalShowsTheMessageAndSavesNothing) {
  struct Case {
    const char* text;
    const char* message;
    const char* seconds = "60";
    int focus = IDC_DOWNLOAD_INTERVAL;
  };
  const Case cases[] = {
      {"2401", "“请填入一个在0和2400之间的整数。”"},
      {"-1", "“请填入一个在0和2400之间的整数。”"},
      {"abc", "请键入一个整数。"},
      {"", "请键入一个整数。"},
      {"1", "“请填入一个在10和86400之间的整数。”", "9", IDC_REFRESH_SECONDS},
  };
  Open();
  for (const Case& c : cases) {
    prompt_.shown.clear();
    SetDialogItemText(Dlg(), IDC_DOWNLOAD_INTERVAL, c.text);
    SetDialogItemText(Dlg(), IDC_REFRESH_SECONDS, c.seconds);
    Tick(IDC_DOWNLOAD_AT_START, true);
    Click(IDOK);
    ASSERT_EQ(prompt_.shown.size(), 1u) << c.text;
    EXPECT_EQ(prompt_.shown[0].text, c.message) << c.text;
    EXPECT_TRUE(IsWindowVisible(Dlg())) << c.text;
    EXPECT_EQ(GetFocus(), GetDlgItem(Dlg(), c.focus)) << c.text;
    EXPECT_TRUE(store_.values().empty()) << c.text;
    EXPECT_FALSE(settings_.download_at_start) << c.text;
  }
}

// A URL typed with blanks around it becomes the configured URL, joins the
// combo box's entries and is saved under the next number; the dialog hides.
TEST_F(DownloadSettingsDialogTest, ConfirmAppliesTheTypedUrlAndSaves) {
  Open();
  SetDialogItemText(Dlg(), IDC_LIST_URL, "  http://127.0.0.1:1/mine.txt  ");
  Tick(IDC_DOWNLOAD_AT_START, true);
  Tick(IDC_KEEP_EXISTING, false);
  SetDialogItemText(Dlg(), IDC_DOWNLOAD_INTERVAL, "3");
  Click(IDOK);

  EXPECT_TRUE(prompt_.shown.empty());
  EXPECT_FALSE(IsWindowVisible(Dlg()));
  EXPECT_EQ(settings_.url, "http://127.0.0.1:1/mine.txt");
  EXPECT_TRUE(settings_.download_at_start);
  EXPECT_FALSE(settings_.keep_existing);
  EXPECT_EQ(settings_.interval_hours, 3);
  EXPECT_EQ(store_.ReadText(kSection, "Proxy File List URL", ""), "http://127.0.0.1:1/mine.txt");
  // After the templates and the default list: the typed one.
  const int templates = int(std::size(core::kTemplateListUrls));
  EXPECT_EQ(store_.ReadText(kSection, core::Format("Proxy File List URL (%02d)", templates + 1), ""),
            "http://127.0.0.1:1/mine.txt");
  EXPECT_EQ(store_.ReadInt(kSection, "Number of other Proxy File List URL", 0), templates + 2);
  EXPECT_EQ(store_.ReadInt(kSection, "Auto download interval", 0), 3);

  dialog_->ShowCentred();
  EXPECT_EQ(ComboEntries().size(), size_t(templates + 2));
  EXPECT_EQ(ComboSelection(), templates + 1);
}

TEST_F(DownloadSettingsDialogTest, CancelRestoresTheStoredValues) {
  EXPECT_TRUE(store_.WriteInt(kSection, "Add to favorite after download", 1));
  EXPECT_TRUE(store_.WriteInt(kSection, "Auto download interval", 12));
  Open();
  Tick(IDC_ADD_AS_FAVORITE, false);
  Tick(IDC_DOWNLOAD_AT_START, true);
  SetDialogItemText(Dlg(), IDC_DOWNLOAD_INTERVAL, "5");
  SetDialogItemText(Dlg(), IDC_LIST_URL, "http://127.0.0.1:1/typed.txt");
  Click(IDCANCEL);

  EXPECT_FALSE(IsWindowVisible(Dlg()));
  EXPECT_TRUE(settings_.add_as_favorite);
  EXPECT_FALSE(settings_.download_at_start);
  EXPECT_EQ(settings_.interval_hours, 12);
  dialog_->ShowCentred();
  EXPECT_TRUE(Checked(IDC_ADD_AS_FAVORITE));
  EXPECT_FALSE(Checked(IDC_DOWNLOAD_AT_START));
  EXPECT_EQ(DialogItemText(Dlg(), IDC_DOWNLOAD_INTERVAL), "12");
  EXPECT_EQ(DialogItemText(Dlg(), IDC_LIST_URL), core::kDefaultListUrl);
  EXPECT_EQ(ComboEntries().size(), std::size(core::kTemplateListUrls) + 1);
}

// "短效IP" belongs to the URL it was ticked for: it is saved with it, shown
// again after a restart, and follows the combo box's choice.
TEST_F(DownloadSettingsDialogTest, TheShortLivedTickGoesWithItsUrl) {
  const std::string url = "http://127.0.0.1:1/short.json";
  Open();
  SetDialogItemText(Dlg(), IDC_LIST_URL, url);
  Tick(IDC_SHORT_LIVED, true);
  SetDialogItemText(Dlg(), IDC_REFRESH_SECONDS, "10");
  Click(IDOK);
  ASSERT_TRUE(prompt_.shown.empty());
  EXPECT_TRUE(settings_.IsShortLived(url));
  EXPECT_EQ(settings_.refresh_seconds, 10);

  // A restart: what the profile kept.
  dialog_.reset();
  settings_ = core::DownloadSettings();
  Open();
  EXPECT_EQ(DialogItemText(Dlg(), IDC_LIST_URL), url);
  EXPECT_TRUE(Checked(IDC_SHORT_LIVED));
  EXPECT_EQ(DialogItemText(Dlg(), IDC_REFRESH_SECONDS), "10");
  auto choose = [&](size_t entry) {
    HWND combo = GetDlgItem(Dlg(), IDC_LIST_URL);
    SendMessageW(combo, CB_SETCURSEL, WPARAM(entry), 0);
    SendMessageW(Dlg(), WM_COMMAND, MAKEWPARAM(IDC_LIST_URL, CBN_SELCHANGE), LPARAM(combo));
  };
  choose(0);
  EXPECT_FALSE(Checked(IDC_SHORT_LIVED));
  choose(size_t(settings_.SelectedUrlIndex()));
  EXPECT_TRUE(Checked(IDC_SHORT_LIVED));
}

}  // namespace
}  // namespace win
