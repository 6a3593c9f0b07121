#include "win/app/prompt.h"

#include <commdlg.h>
#include <shellapi.h>

#include <vector>

#include "win/platform/resources.h"
#include "win/platform/wide_text.h"
#include "win/res/resource.h"

namespace win {
namespace {

// "文本文件 (*.txt)|*.TXT|所有文件 (*.*)|*.*||" in the form the dialogs take.
constexpr wchar_t kListFilter[] =
    L"\u6587\u672c\u6587\u4ef6 (*.txt)\0*.TXT\0\u6240\u6709\u6587\u4ef6 (*.*)\0*.*\0";

bool RunFileDialog(HWND owner, bool save, std::string* path) {
  // Long enough for any path the shell hands out (\\?\ paths included).
  std::vector<wchar_t> file(32768, L'\0');
  if (save) {
    constexpr wchar_t kDefaultName[] = L"ProxyLst";
    std::copy(std::begin(kDefaultName), std::end(kDefaultName), file.begin());
  }
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = kListFilter;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = DWORD(file.size());
  if (save) {
    ofn.lpstrDefExt = L"txt";
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_EXPLORER;
    if (!GetSaveFileNameW(&ofn)) return false;
  } else {
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_EXPLORER;
    if (!GetOpenFileNameW(&ofn)) return false;
  }
  *path = WideToUtf8(file.data());
  return !path->empty();
}

// Renames a message box's buttons as it is activated (the hook lives only for
// the one box of this thread).
LRESULT CALLBACK ChineseButtons(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_ACTIVATE) {
    HWND box = reinterpret_cast<HWND>(wparam);
    wchar_t kind[16] = {};
    if (GetClassNameW(box, kind, 16) && wcscmp(kind, L"#32770") == 0) {
      static constexpr struct {
        int id;
        const wchar_t* text;
      } kButtons[] = {{IDYES, L"\u662f"},            // 是
                      {IDNO, L"\u5426"},             // 否
                      {IDOK, L"\u786e\u5b9a"},       // 确定
                      {IDCANCEL, L"\u53d6\u6d88"}};  // 取消
      for (const auto& b : kButtons) {
        if (HWND button = GetDlgItem(box, b.id)) SetWindowTextW(button, b.text);
      }
    }
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

}  // namespace

int DesktopPrompt::Ask(HWND owner, std::string_view text, std::string_view caption, UINT type) {
  std::wstring wtext = Utf8ToWide(text);
  // A box without a caption of its own carries the program's title (the system
  // would write "Error").
  std::wstring wcaption = caption.empty()
                              ? LoadResourceString(GetModuleHandleW(nullptr), IDS_APP_TITLE)
                              : Utf8ToWide(caption);
  // The buttons speak the program's language, whatever the system's is: the
  // prompts name them ("请选择“是”"), and on an English system the box would say
  // Yes and No.
  HHOOK hook = SetWindowsHookExW(WH_CBT, &ChineseButtons, nullptr, GetCurrentThreadId());
  int answer = MessageBoxW(owner, wtext.c_str(), wcaption.c_str(), type);
  if (hook) UnhookWindowsHookEx(hook);
  return answer;
}

bool DesktopPrompt::ChooseFileToOpen(HWND owner, std::string* path) {
  return RunFileDialog(owner, false, path);
}

bool DesktopPrompt::ChooseFileToSave(HWND owner, std::string* path) {
  return RunFileDialog(owner, true, path);
}

void DesktopPrompt::OpenPage(HWND owner, std::string_view url_or_file) {
  std::wstring target = Utf8ToWide(url_or_file);
  ShellExecuteW(owner, L"open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace win
