// The site editor as a real modal dialog: a thread timer types into its edits
// and presses its buttons from inside the modal loop, as a user would.
#include "win/app/site_editor_dialog.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "win/platform/wide_text.h"
#include "win/res/resource.h"
#include "win/testing/dialog_driver.h"
#include "win/testing/scripted_prompt.h"
#include "win/ui/dialog_text.h"

namespace win {
namespace {

ScriptedPrompt g_prompt;

// The message boxes shown, as "caption:text".
std::vector<std::string> Boxes() {
  std::vector<std::string> out;
  for (const ScriptedPrompt::Shown& s : g_prompt.shown) out.push_back(s.caption + ":" + s.text);
  return out;
}

// Opens the editor on `url`/`verify` and lets `drive` act on it.
bool RunDriven(std::string* url, std::string* verify, std::function<void(HWND)> drive) {
  ModalDriver::DriveWhenOpen(
      [](HWND hwnd) {
        wchar_t title[64] = {};
        GetWindowTextW(hwnd, title, 64);
        return WideToUtf8(title) == "验证站点信息";
      },
      [drive = std::move(drive)](HWND editor) {
        drive(editor);
        // Whatever the script left open is cancelled, so that the test never hangs.
        if (IsWindow(editor)) PostMessageW(editor, WM_COMMAND, IDCANCEL, 0);
      });
  return RunSiteEditor(nullptr, g_prompt, url, verify);
}

void TypeAndConfirm(HWND editor, const std::vector<std::string>& fields) {
  const int ids[] = {IDC_SITE_URL, IDC_SITE_USER, IDC_SITE_PASSWORD, IDC_SITE_VERIFY_STRING};
  for (int i = 0; i < 4; ++i) SetDialogItemText(editor, ids[i], fields[size_t(i)]);
  SendMessageW(editor, WM_COMMAND, IDOK, 0);
}

class SiteEditorDialogTest : public testing::Test {
 protected:
  void SetUp() override {
    g_prompt.shown.clear();
  }
};

TEST_F(SiteEditorDialogTest, ConfirmationComposesTheUrlOrRefuses) {
  struct Case {
    std::vector<std::string> typed;  // URL, user, password, verify string
    std::string stored;              // "" when refused
    std::string box;
    int focus;
  };
  const Case cases[] = {
      {{"ifconfig.example/x", "", "", "myip"}, "http://ifconfig.example/x", "", 0},
      {{"HTTP://Host.example/Path", "", "", "zzz"}, "http://Host.example/Path", "", 0},
      {{"  ftp://files.example/  ", "", "", ""}, "ftp://files.example/", "", 0},
      {{"http://h.example/x", " u ", "p", "ok"}, "http://u:p@h.example/x", "", 0},
      {{"http://h.example/x", "", "secret", "ok"}, "http://h.example/x", "", 0},
      {{"https://h.example/", "", "", "ok"}, "https://h.example/", "", 0},
      {{"gopher://h.example/", "", "", "ok"},
       "",
       "未知的协议头:协议未知，请确定URL是以“http://”、“https://”或者“ftp://”起始的",
       IDC_SITE_URL},
      {{"http://h.example/", "", "", "h.example"},
       "",
       "请重新修改验证字符串:验证字符串中不能使用URL中出现的内容，否则验证将不可靠",
       IDC_SITE_VERIFY_STRING},
      {{"http://h.example/", "", "", ""},
       "",
       "请重新修改验证字符串:验证字符串中不能使用URL中出现的内容，否则验证将不可靠",
       IDC_SITE_VERIFY_STRING},
  };
  for (const Case& c : cases) {
    g_prompt.shown.clear();
    std::string url, verify;
    std::string kept_url;
    int focus = 0;
    bool confirmed = RunDriven(&url, &verify, [&](HWND editor) {
      TypeAndConfirm(editor, c.typed);
      if (!c.stored.empty()) return;
      // Refused: the dialog keeps the input and takes a corrected one.
      kept_url = DialogItemText(editor, IDC_SITE_URL);
      focus = GetDlgCtrlID(GetFocus());
      TypeAndConfirm(editor, {"http://fixed.example/", "", "", "page text"});
    });
    EXPECT_TRUE(confirmed) << c.typed[0];
    if (c.stored.empty()) {
      EXPECT_EQ(url, "http://fixed.example/") << c.typed[0];
      ASSERT_EQ(g_prompt.shown.size(), 1u) << c.typed[0];
      EXPECT_EQ(Boxes()[0], c.box);
      EXPECT_EQ(kept_url, c.typed[0]);
      EXPECT_EQ(focus, c.focus) << c.typed[0];
    } else {
      EXPECT_EQ(url, c.stored) << c.typed[0];
      EXPECT_TRUE(g_prompt.shown.empty()) << c.typed[0];
      EXPECT_EQ(verify, c.typed[3]);
    }
  }
}

TEST_F(SiteEditorDialogTest, EditingSplitsTheCredentialsOutOfTheUrl) {
  std::string url = "http://u:p@h.example/x", verify = "ok";
  std::vector<std::string> shown;
  bool confirmed = RunDriven(&url, &verify, [&](HWND editor) {
    for (int id : {IDC_SITE_URL, IDC_SITE_USER, IDC_SITE_PASSWORD, IDC_SITE_VERIFY_STRING}) {
      shown.push_back(DialogItemText(editor, id));
    }
    SendMessageW(editor, WM_COMMAND, IDCANCEL, 0);
  });
  EXPECT_FALSE(confirmed);
  EXPECT_EQ(shown, (std::vector<std::string>{"http://h.example/x", "u", "p", "ok"}));
  EXPECT_EQ(url, "http://u:p@h.example/x") << "a cancelled edit changes nothing";
}

}  // namespace
}  // namespace win
