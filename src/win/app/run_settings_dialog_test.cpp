// The run settings dialog created for real and driven with the messages a
// user's clicks send, over the real Run keys of the test prefix and the real
// shell-link object; the desktop is a temporary folder.
#include "win/app/run_settings_dialog.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <shobjidl.h>
#include <windows.h>

#include <string>
#include <vector>

#include "core/base/text.h"
#include "win/platform/registry.h"
#include "win/platform/run_settings_platform.h"
#include "win/platform/unique_handle.h"
#include "win/platform/wide_text.h"
#include "win/res/resource.h"
#include "win/testing/dialog_driver.h"
#include "win/testing/scripted_prompt.h"

namespace win {
namespace {

struct ShortcutContents {
  std::string target;
  std::string description;
};

// Reads a saved link back through the shell-link object.
bool ReadShortcut(const std::string& path, ShortcutContents* out) {
  IShellLinkW* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&link)))) {
    return false;
  }
  IPersistFile* file = nullptr;
  bool ok = SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
            SUCCEEDED(file->Load(Utf8ToWide(path).c_str(), STGM_READ));
  wchar_t text[1024] = {};
  if (ok && SUCCEEDED(link->GetPath(text, 1024, nullptr, SLGP_RAWPATH)))
    out->target = WideToUtf8(text);
  text[0] = L'\0';
  if (ok && SUCCEEDED(link->GetDescription(text, 1024))) out->description = WideToUtf8(text);
  if (file != nullptr) file->Release();
  link->Release();
  return ok;
}

class RunSettingsDialogTest : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    desktop_ = WideToUtf8(temp) + "relaymoth-desktop-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryW(Utf8ToWide(desktop_).c_str(), nullptr);
    link_ = desktop_ + "\\" + std::string(core::kDesktopShortcutName);
    DeleteFileW(Utf8ToWide(link_).c_str());
    shortcuts_ = std::make_unique<ShellDesktopShortcuts>(desktop_);
    ClearRunValues();
  }
  void TearDown() override {
    dialog_.reset();
    DeleteFileW(Utf8ToWide(link_).c_str());
    RemoveDirectoryW(Utf8ToWide(desktop_).c_str());
    ClearRunValues();
  }
  void ClearRunValues() {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
      HKEY key = nullptr;
      if (RegOpenKeyExW(root, Utf8ToWide(kRunSubkey).c_str(), 0, KEY_SET_VALUE, &key) == 0) {
        RegDeleteValueW(key, L"Relaymoth");
        RegCloseKey(key);
      }
    }
  }

  RunSettingsDialog& Open() {
    dialog_ = std::make_unique<RunSettingsDialog>(
        store_, *shortcuts_, run_key_, prompt_, program_,
        [this](const core::RunSettings& s, const core::ExitCheckSettings&) {
          tray_calls_.push_back(s.tray_icon);
        });
    EXPECT_TRUE(dialog_->Create(nullptr)) << GetLastError();
    dialog_->ShowCentred();
    return *dialog_;
  }
  HWND Dlg() const { return dialog_->hwnd(); }
  void Click(int id) { ClickButton(Dlg(), id); }
  void Tick(int id, bool on) { CheckDlgButton(Dlg(), id, on ? BST_CHECKED : BST_UNCHECKED); }
  // The four boxes as "1054 1059 1058 1060" ticks, e.g. "0100".
  std::string Boxes() const {
    std::string out;
    for (int id : {IDC_ONLY_WITH_BROWSER, IDC_TRAY_ICON, IDC_AUTO_START, IDC_DESKTOP_ICON}) {
      out += IsDlgButtonChecked(Dlg(), id) == BST_CHECKED ? '1' : '0';
    }
    return out;
  }
  std::string RunValue(HKEY root) const { return ReadRegistryText(root, kRunSubkey, "Relaymoth"); }
  bool LinkExists() const {
    return GetFileAttributesW(Utf8ToWide(link_).c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  OleScope ole_;  // made first, gone last
  core::MemoryProfileStore store_;
  RegistryRunKeyStore run_key_;
  std::unique_ptr<ShellDesktopShortcuts> shortcuts_;
  ScriptedPrompt prompt_;
  std::string program_ = ProgramFilePath();
  std::string desktop_, link_;
  std::vector<bool> tray_calls_;
  std::unique_ptr<RunSettingsDialog> dialog_;
};

TEST_F(RunSettingsDialogTest, WritesAndRemovesTheRunValueAndTheShortcut) {
  ASSERT_FALSE(program_.empty());
  Open();
  EXPECT_EQ(Boxes(), "0100");  // an empty profile: only the tray icon

  Tick(IDC_AUTO_START, true);
  Tick(IDC_DESKTOP_ICON, true);
  Tick(IDC_TRAY_ICON, false);
  Click(IDOK);
  EXPECT_FALSE(IsWindowVisible(Dlg()));
  EXPECT_EQ(RunValue(HKEY_CURRENT_USER), "\"" + program_ + "\"");
  EXPECT_EQ(RunValue(HKEY_LOCAL_MACHINE), "");
  ShortcutContents link;
  ASSERT_TRUE(ReadShortcut(link_, &link));
  EXPECT_TRUE(core::EqualsIgnoreAsciiCase(link.target, program_)) << link.target;
  EXPECT_EQ(link.description, core::kDesktopShortcutDescription);
  EXPECT_EQ(store_.ReadInt(core::kAdvancedSettingsSection, core::kTrayIconKey, -1), 0);
  EXPECT_EQ(tray_calls_, std::vector<bool>{false});

  // Shown again it reads back what the system holds; a value left under the
  // machine's key counts as on and goes too.
  EXPECT_TRUE(
      WriteRegistryString(HKEY_LOCAL_MACHINE, kRunSubkey, "Relaymoth", "C:\\old\\relaymoth.exe"));
  dialog_->ShowCentred();
  EXPECT_EQ(Boxes(), "0011");
  Tick(IDC_AUTO_START, false);
  Tick(IDC_DESKTOP_ICON, false);
  Tick(IDC_TRAY_ICON, true);
  Click(IDOK);
  EXPECT_EQ(RunValue(HKEY_CURRENT_USER), "");
  EXPECT_EQ(RunValue(HKEY_LOCAL_MACHINE), "");
  EXPECT_FALSE(LinkExists());
  EXPECT_EQ(tray_calls_, (std::vector<bool>{false, true}));
  EXPECT_EQ(Boxes(), "0100");
  EXPECT_TRUE(prompt_.shown.empty());
}

TEST_F(RunSettingsDialogTest, CancelRestoresAndRefusedProfileKeepsTheDialogOpen) {
  Open();
  Tick(IDC_ONLY_WITH_BROWSER, true);
  Click(IDCANCEL);
  EXPECT_FALSE(IsWindowVisible(Dlg()));
  EXPECT_EQ(Boxes(), "0100");
  EXPECT_FALSE(dialog_->settings().only_with_browser);
  EXPECT_TRUE(tray_calls_.empty());

  dialog_->ShowCentred();
  store_.set_read_only(true);
  Tick(IDC_ONLY_WITH_BROWSER, true);
  Click(IDOK);
  ASSERT_EQ(prompt_.shown.size(), 1u);
  // The profile's reason follows the message.
  EXPECT_EQ(prompt_.shown[0].text, std::string(kRunSettingsNotSavedMessage) + "\n" +
                                       std::string(core::kAdvancedSettingsSection) + "\\" +
                                       std::string(core::kOnlyWithBrowserKey) + ": 只读");
  EXPECT_TRUE(IsWindowVisible(Dlg()));
}

TEST_F(RunSettingsDialogTest, TheRelayBoxIsOffAtFirstAndKeptInTheProfile) {
  Open();
  EXPECT_EQ(IsDlgButtonChecked(Dlg(), IDC_ALL_THROUGH_RELAY), UINT(BST_UNCHECKED));
  Tick(IDC_ALL_THROUGH_RELAY, true);
  Click(IDOK);
  EXPECT_TRUE(dialog_->settings().all_through_relay);
  EXPECT_EQ(store_.ReadInt(core::kAdvancedSettingsSection, core::kAllThroughRelayKey, -1), 1);
}

TEST(RunSettingsPlatformTest, RefusesLinkNamesOutsideTheDesktop) {
  ShellDesktopShortcuts shortcuts("C:\\relaymoth-desktop");
  for (const char* name : {"", "..", " . ", "..\\evil.lnk", "sub/evil.lnk", "C:evil.lnk"}) {
    EXPECT_EQ(shortcuts.FindShortcut(name), core::ShortcutPresence::kNoDesktop) << name;
    EXPECT_FALSE(shortcuts.CreateShortcut({name, "C:\\x.exe", "", 5})) << name;
    EXPECT_FALSE(shortcuts.RemoveShortcut(name)) << name;
  }
}

TEST(RunSettingsPlatformTest, DeletingAMissingRunValueOrKeyIsNoError) {
  RegistryRunKeyStore store("Software\\Quillworks\\RelaymothRunKeyTest");
  DeleteRegistryTree(HKEY_CURRENT_USER, "Software\\Quillworks\\RelaymothRunKeyTest");
  EXPECT_TRUE(store.DeleteRunValue(core::RunKeyPlace::kCurrentUser, "Relaymoth"));  // no key
  ASSERT_TRUE(store.WriteRunValue(core::RunKeyPlace::kCurrentUser, "Other", "x"));
  EXPECT_TRUE(store.DeleteRunValue(core::RunKeyPlace::kCurrentUser, "Relaymoth"));  // no value
  EXPECT_EQ(store.ReadRunValue(core::RunKeyPlace::kCurrentUser, "Other"), "x");
  DeleteRegistryTree(HKEY_CURRENT_USER, "Software\\Quillworks\\RelaymothRunKeyTest");
}

}  // namespace
}  // namespace win
