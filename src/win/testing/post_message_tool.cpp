// relaymoth-post-message.exe: a test tool that does to a running relaymoth.exe
// what a user or Windows does to it, so the end-to-end test can drive the real
// program from outside:
//   close           WM_CLOSE to the floating window (the window closed)
//   end-session     WM_QUERYENDSESSION, then WM_CLOSE (logging off)
//   exit            command IDM_QUIT, "退出程序" of the proxy menu
//   no-proxy        command IDM_NO_PROXY, "不使用ip" of the proxy menu
//   menu X Y        WM_CONTEXTMENU at screen point X, Y (opens the proxy menu)
//   cancel-menu     WM_CANCELMODE (closes an open menu)
//   rows            prints the main list's rows, one
//                   "address:port|location|type|status|result|ticked" a line
//                   (ticked: 1 for a favorite, 0 otherwise)
//   favorite N      the proxy menu's N-th favorite (from 0): switches to it
//   pid             prints the program's process id
//   verify-all      command IDM_VERIFY_ALL, "验证全部" of the proxy menu
//   add LINE...     types each LINE into the main dialog's edit and adds it
//                   ("添加到IP列表"); added rows are selected
//   tick-selected   command IDM_MAKE_FAVORITE of the list's menu: ticks the
//                   selected rows
//   fetch URL       not a message: fetches URL with WinInet through the system
//                   proxy setting, as a browser of the user would, and prints the
//                   status code and the body (at most 64 KiB); needs no window
// Exit code 0 when the window was found and the message delivered (fetch: the
// page came back), 2 otherwise.
#include <windows.h>
// After windows.h, which it builds on.
#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "core/proxylist/favorite_menu.h"
#include "win/platform/internet_handles.h"
#include "win/platform/unique_handle.h"
#include "win/res/resource.h"

namespace {

constexpr wchar_t kFloatingClass[] = L"RelaymothFloatingWindow";

// The text of one cell of another process's list view, through shared memory
// the list view can write into.
std::wstring RemoteCell(HWND view, HANDLE process, int row, int column) {
  constexpr size_t kChars = 512;
  size_t bytes = sizeof(LVITEMW) + kChars * sizeof(wchar_t);
  auto* remote =
      static_cast<BYTE*>(VirtualAllocEx(process, nullptr, bytes, MEM_COMMIT, PAGE_READWRITE));
  if (remote == nullptr) return {};
  LVITEMW item{};
  item.iSubItem = column;
  item.cchTextMax = int(kChars);
  item.pszText = reinterpret_cast<wchar_t*>(remote + sizeof(LVITEMW));
  WriteProcessMemory(process, remote, &item, sizeof(item), nullptr);
  LRESULT n = SendMessageW(view, LVM_GETITEMTEXTW, WPARAM(row), LPARAM(remote));
  std::wstring text(size_t(n > 0 ? n : 0), L'\0');
  if (n > 0) {
    ReadProcessMemory(process, remote + sizeof(LVITEMW), text.data(), size_t(n) * sizeof(wchar_t),
                      nullptr);
  }
  VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  return text;
}

// The main dialog: the floating window's owned popup holding the list view.
HWND MainDialog(HWND floating) {
  for (HWND w = GetTopWindow(nullptr); w; w = GetWindow(w, GW_HWNDNEXT)) {
    if (GetWindow(w, GW_OWNER) == floating && GetDlgItem(w, IDC_PROXY_LIST) != nullptr) return w;
  }
  return nullptr;
}

int AddLines(HWND floating, int count, wchar_t** lines) {
  HWND dialog = MainDialog(floating);
  if (dialog == nullptr) return 2;
  for (int i = 0; i < count; ++i) {
    if (!SetDlgItemTextW(dialog, IDC_PROXY_EDIT, lines[i])) return 2;
    SendMessageW(dialog, WM_COMMAND, IDC_ADD_PROXY, 0);
  }
  return 0;
}

int PrintRows(HWND floating) {
  DWORD pid = 0;
  GetWindowThreadProcessId(floating, &pid);
  win::UniqueKernelHandle process(
      OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid));
  if (!process) return 2;
  // The main dialog is the floating window's owned popup holding the list view IDC_PROXY_LIST.
  HWND view = nullptr;
  for (HWND w = GetTopWindow(nullptr); w && !view; w = GetWindow(w, GW_HWNDNEXT)) {
    if (GetWindow(w, GW_OWNER) == floating) view = GetDlgItem(w, IDC_PROXY_LIST);
  }
  if (view == nullptr) return 2;
  int count = int(SendMessageW(view, LVM_GETITEMCOUNT, 0, 0));
  for (int row = 0; row < count; ++row) {
    std::wstring line =
        RemoteCell(view, process.get(), row, 0) + L":" + RemoteCell(view, process.get(), row, 1) +
        L"|" + RemoteCell(view, process.get(), row, 4) + L"|" +
        RemoteCell(view, process.get(), row, 2) + L"|" + RemoteCell(view, process.get(), row, 3) +
        L"|" + RemoteCell(view, process.get(), row, 5) + L"|" +
        (ListView_GetCheckState(view, row) ? L"1" : L"0");
    int n = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), int(line.size()), nullptr, 0, nullptr,
                                nullptr);
    std::string utf8(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), int(line.size()), utf8.data(), n, nullptr,
                        nullptr);
    std::printf("%s\n", utf8.c_str());
  }
  return 0;
}

// One GET through the proxy the system setting names (what WinInet reads with
// INTERNET_OPEN_TYPE_PRECONFIG), nothing cached, 10 s at most per step.
int FetchThroughSystemSetting(const wchar_t* url) {
  win::UniqueInternet session(
      InternetOpenW(L"relaymoth-post-message", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session) return 2;
  DWORD timeout_ms = 10000;
  for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                       INTERNET_OPTION_RECEIVE_TIMEOUT}) {
    InternetSetOptionW(session.get(), option, &timeout_ms, sizeof(timeout_ms));
  }
  win::UniqueInternet request(InternetOpenUrlW(
      session.get(), url, nullptr, 0,
      INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE, 0));
  if (!request) {
    std::fprintf(stderr, "fetch failed: error %lu\n", GetLastError());
    return 2;
  }
  DWORD status = 0, size = sizeof(status);
  HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                 nullptr);
  std::printf("%lu\n", status);
  std::string body;
  char buffer[4096];
  DWORD got = 0;
  while (body.size() < 65536 && InternetReadFile(request.get(), buffer, sizeof(buffer), &got) &&
         got > 0) {
    body.append(buffer, got);
  }
  std::fwrite(body.data(), 1, body.size(), stdout);
  return status == 200 ? 0 : 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: relaymoth-post-message close|end-session|exit|no-proxy|menu X Y|"
                 "cancel-menu|rows|favorite N|pid|verify-all|add LINE...|tick-selected|"
                 "fetch URL\n");
    return 2;
  }
  if (std::wstring(argv[1]) == L"fetch" && argc >= 3) return FetchThroughSystemSetting(argv[2]);
  HWND floating = FindWindowW(kFloatingClass, nullptr);
  if (floating == nullptr) return 2;
  std::wstring what = argv[1];
  BOOL ok = FALSE;
  if (what == L"close") {
    ok = PostMessageW(floating, WM_CLOSE, 0, 0);
  } else if (what == L"end-session") {
    DWORD_PTR answer = 0;
    ok = SendMessageTimeoutW(floating, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 5000, &answer) != 0 &&
         PostMessageW(floating, WM_CLOSE, 0, 0);
  } else if (what == L"exit") {
    ok = PostMessageW(floating, WM_COMMAND, IDM_QUIT, 0);
  } else if (what == L"no-proxy") {
    ok = PostMessageW(floating, WM_COMMAND, IDM_NO_PROXY, 0);
  } else if (what == L"menu" && argc >= 4) {
    int x = _wtoi(argv[2]);
    int y = _wtoi(argv[3]);
    ok = PostMessageW(floating, WM_CONTEXTMENU, WPARAM(floating), MAKELPARAM(x, y));
  } else if (what == L"cancel-menu") {
    ok = PostMessageW(floating, WM_CANCELMODE, 0, 0);
  } else if (what == L"rows") {
    return PrintRows(floating);
  } else if (what == L"favorite" && argc >= 3) {
    int entry = _wtoi(argv[2]);
    ok = PostMessageW(floating, WM_COMMAND, WPARAM(IDM_FAVORITE_FIRST + entry), 0);
  } else if (what == L"verify-all") {
    ok = PostMessageW(floating, WM_COMMAND, IDM_VERIFY_ALL, 0);
  } else if (what == L"add" && argc >= 3) {
    return AddLines(floating, argc - 2, argv + 2);
  } else if (what == L"tick-selected") {
    HWND dialog = MainDialog(floating);
    DWORD_PTR answer = 0;
    ok = dialog != nullptr && SendMessageTimeoutW(dialog, WM_COMMAND, IDM_MAKE_FAVORITE, 0,
                                                  SMTO_NORMAL, 5000, &answer) != 0;
  } else if (what == L"pid") {
    DWORD pid = 0;
    GetWindowThreadProcessId(floating, &pid);
    std::printf("%lu\n", pid);
    ok = pid != 0;
  }
  return ok ? 0 : 2;
}
