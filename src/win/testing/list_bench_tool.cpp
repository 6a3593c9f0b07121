// relaymoth-list-bench.exe: times the main dialog with a large list under the
// real list view: import of N lines, scrolling through the list, a column-click
// sort, a change of the place filter (as its dialog's 确定 makes it: saved,
// counted for the caption, looked at by automatic switching), select-all and
// delete, and a save of the list into the registry as
// the program saves it as the list changes (a snapshot, then steps of at most
// 15 ms), and clicks that change the selection of every row at once. Prints
// one "step: milliseconds" line each, and the working set the list's rows add.
//   relaymoth-list-bench [N]        (100000 by default)
#include <windows.h>
// After windows.h, which it builds on.
#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <fstream>
#include <string>

#include "core/base/codepage.h"
#include "core/base/file_path.h"
#include "core/proxylist/ip_location.h"
#include "core/proxylist/list_profile.h"
#include "core/proxylist/place_filter.h"
#include "win/app/app_services.h"
#include "win/app/proxy_list_dialog.h"
#include "win/platform/registry.h"
#include "win/platform/registry_profile_store.h"
#include "win/platform/run_settings_platform.h"
#include "win/platform/unique_handle.h"
#include "win/platform/wide_text.h"
#include "win/platform/win_clock.h"
#include "win/res/resource.h"
#include "win/testing/scripted_exit_fetcher.h"
#include "win/testing/scripted_pool.h"
#include "win/testing/scripted_prompt.h"

namespace {

// Milliseconds since `since` (a PreciseMs reading).
double Ms(double since) { return win::PreciseMs() - since; }

// The process's working set in bytes.
size_t WorkingSet(bool peak = false) {
  PROCESS_MEMORY_COUNTERS memory{};
  memory.cb = sizeof(memory);
  K32GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
  return peak ? memory.PeakWorkingSetSize : memory.WorkingSetSize;
}

// One save of `list` into a registry profile of the bench's own, stepped as
// ListSaveService steps it, with the steps' pauses left out.
void TimeRegistrySave(const core::ProxyList& list, const char* what) {
  win::RegistryProfileStore store(HKEY_CURRENT_USER,
                                  "Software\\Quillworks\\RelaymothTest\\BenchProfile");
  double start = win::PreciseMs();
  std::unique_ptr<const core::ProxyList> snapshot = list.Snapshot();
  double snapshot_ms = Ms(start);
  core::ListSave save(*snapshot, store);
  double longest = 0, in_force = 0;
  int steps = 0;
  for (bool ended = false; !ended; ++steps) {
    double began = win::PreciseMs();
    while (!ended && win::PreciseMs() - began < win::ListSaveService::kStepMs) {
      ended = save.Step(win::ListSaveService::kCallsPerLook);
    }
    longest = std::max(longest, Ms(began));
    if (in_force == 0 && save.in_force()) in_force = Ms(start);
  }
  std::printf(
      "save to the registry %s: snapshot %.1f ms, %d steps of at most %.1f ms, the new list "
      "in force after %.0f ms, all %.0f ms of work (%s)\n",
      what, snapshot_ms, steps, longest, in_force, Ms(start),
      save.status().ok() ? "saved" : save.status().reason().c_str());
}

// What the program writes after one tick in a long list: the change into the
// saved list's journal, as ListSaveService writes it.
void TimeJournaledTick(core::ProxyList& list, size_t row) {
  win::RegistryProfileStore store(HKEY_CURRENT_USER,
                                  "Software\\Quillworks\\RelaymothTest\\BenchProfile");
  list.TakeSavedChanges();
  list.SetChecked(row, !list.row(row).favorite);
  double start = win::PreciseMs();
  core::SavedChanges changes = list.TakeSavedChanges();
  core::WriteStatus written = core::AppendToListJournal(changes.rows, store);
  std::printf("save after one tick (journaled, %zu entries): %.2f ms on the UI thread (%s)\n",
              changes.rows.size(), Ms(start), written.ok() ? "saved" : written.reason().c_str());
}

// Place filter changes on the UI thread, with the main dialog open: to the
// province with the most rows, to a place no row has (every row is looked at,
// and the "no usable row" note goes up), and back to none. The switcher saves
// into the bench's memory profile; the registry write is timed on its own.
void TimePlaceFilter(win::Switcher& switcher) {
  std::vector<core::PlaceCount> census = core::CountPlaces(switcher.list());
  core::PlaceFilter top, nowhere;
  if (!census.empty()) top.entries.push_back(census.front().place);
  nowhere.entries.push_back({core::PlaceKind::kCity, "不存在的城市"});
  for (const core::PlaceFilter* filter : {&top, &nowhere, &top}) {
    double start = win::PreciseMs();
    switcher.SetPlaceFilter(*filter);
    std::printf("place filter to \"%s\": %.2f ms on the UI thread (%zu rows pass)\n",
                core::PlaceFilterText(*filter).c_str(), Ms(start),
                core::CountPassingRows(switcher.list(), *filter));
  }
  win::RegistryProfileStore store(HKEY_CURRENT_USER,
                                  "Software\\Quillworks\\RelaymothTest\\BenchProfile");
  double start = win::PreciseMs();
  core::WriteStatus saved = core::SavePlaceFilter(top, store);
  std::printf("place filter into the registry: %.2f ms (%s)\n", Ms(start),
              saved.ok() ? "saved" : saved.reason().c_str());
  start = win::PreciseMs();
  switcher.SetPlaceFilter({});
  std::printf("place filter to none: %.2f ms\n", Ms(start));
}

// A left click at `pt` of the list view as the mouse sends it, with the keys
// held (MK_SHIFT, MK_CONTROL); returns its milliseconds, the repaint included.
double TimeClick(HWND view, POINT pt, WPARAM keys) {
  double start = win::PreciseMs();
  SendMessageW(view, WM_LBUTTONDOWN, keys | MK_LBUTTON, MAKELPARAM(pt.x, pt.y));
  SendMessageW(view, WM_LBUTTONUP, keys, MAKELPARAM(pt.x, pt.y));
  UpdateWindow(view);
  return Ms(start);
}

// The middle of a row's port cell, the row scrolled into view first.
POINT RowPoint(HWND view, int row) {
  ListView_EnsureVisible(view, row, FALSE);
  UpdateWindow(view);
  RECT r{};
  ListView_GetSubItemRect(view, row, core::kColPort, LVIR_LABEL, &r);
  return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

void Pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int rows = argc > 1 ? _wtoi(argv[1]) : 100000;
  win::OleScope ole;  // outlives the dialog and the switcher below
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);

  std::string file = win::WideToUtf8(win::GetModuleFolder()) + "list-bench.txt";
  {
    std::ofstream out(core::PathFromUtf8(file), std::ios::binary);
    for (int i = 0; i < rows; ++i) {
      out << (i % 223 + 1) << '.' << (i / 223 % 256) << '.' << (i / 57088 % 256) << '.' << (i % 7)
          << ':' << (1000 + i % 50000) << "\r\n";
    }
  }
  // New rows are located as in the program, from wry.dll beside it.
  core::IpLocationDb locations(win::GetModuleFolder() + L"wry.dll");
  core::MemoryProfileStore profile;
  win::ScriptedPrompt prompt;
  core::GbkCodec codec;
  win::RegistryRunKeyStore run_key("Software\\Quillworks\\RelaymothTest\\BenchRun");
  win::ShellDesktopShortcuts shortcuts(win::WideToUtf8(win::GetModuleFolder()) + "bench-desktop");
  win::AppParts parts;
  parts.platform = {GetModuleHandleW(nullptr), &profile, &prompt, &codec, &run_key, &shortcuts, ""};
  parts.locator = [&locations](std::string_view address) {
    core::IpLocation loc;
    return locations.LookupIpLocation(address, &loc) ? core::LocationText(loc) : std::string();
  };
  parts.locator_batch = [&locations](bool open) { locations.Hold(open); };
  parts.locate_rows = [](core::ProxyList& staged) {
    auto db = std::make_shared<core::IpLocationDb>(win::GetModuleFolder() + L"wry.dll");
    staged.SetLocator(
        [db](std::string_view address) {
          core::IpLocation loc;
          return db->LookupIpLocation(address, &loc) ? core::LocationText(loc) : std::string();
        },
        [db](bool open) { db->Hold(open); });
  };
  parts.verify.clock = std::make_shared<win::WinClock>();
  parts.verify.pool = std::make_unique<win::ScriptedPool>();  // nothing is verified here
  parts.proxy_place.key = "Software\\Quillworks\\RelaymothTest\\Bench";
  parts.cleanup = [] {};
  parts.make_exit_fetcher = [](win::PostingExitFetcher::Report report,
                               uint32_t) -> std::unique_ptr<win::PostingExitFetcher> {
    // Nothing goes on the network.
    return std::make_unique<win::ScriptedExitFetcher>(std::move(report));
  };
  parts.download_job = win::MakeWinInetDownloadJob();
  parts.download_path = win::WideToUtf8(win::GetModuleFolder()) + "bench-Download.txt";
  win::AppServices services(std::move(parts));
  win::Switcher& switcher = services.switcher();
  win::ProxyListDialog dialog(services);
  if (!dialog.Create(nullptr)) return 2;
  dialog.Show();
  Pump();
  HWND view = dialog.list_view();
  if (view == nullptr) return 2;

  size_t empty_set = WorkingSet();
  auto start = win::PreciseMs();
  dialog.ImportFile(file);
  double call = Ms(start);
  // A large file is read on a worker: the user-interface thread only handles
  // messages meanwhile; the longest of them is what the user can feel.
  double longest = 0;
  while (services.imports().busy()) {
    MSG msg;
    if (GetMessageW(&msg, nullptr, 0, 0) <= 0) break;
    double at = win::PreciseMs();
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
    longest = std::max(longest, Ms(at));
  }
  UpdateWindow(view);
  std::printf(
      "import %d lines: %.0f ms (%zu rows); the UI thread busy at most %.0f ms at once "
      "(the call %.0f ms)\n",
      rows, Ms(start), switcher.list().size(), longest, call);
  size_t full_set = WorkingSet();
  std::printf(
      "working set: %.1f MiB empty, %.1f MiB with the rows (peak %.1f MiB), %.0f bytes "
      "a row\n",
      double(empty_set) / 1048576.0, double(full_set) / 1048576.0,
      double(WorkingSet(true)) / 1048576.0,
      double(full_set - empty_set) / double(std::max<size_t>(switcher.list().size(), 1)));

  TimePlaceFilter(switcher);

  // Past 200 000 rows a whole save runs for minutes: only its first step, the
  // snapshot, is timed.
  if (rows <= 200000) {
    win::DeleteRegistryTree(HKEY_CURRENT_USER,
                            "Software\\Quillworks\\RelaymothTest\\BenchProfile");
    TimeRegistrySave(switcher.list(), "(first)");
    TimeJournaledTick(switcher.list(), size_t(rows / 2));
    win::DeleteRegistryTree(HKEY_CURRENT_USER,
                            "Software\\Quillworks\\RelaymothTest\\BenchProfile");
  } else {
    start = win::PreciseMs();
    std::unique_ptr<const core::ProxyList> snapshot = switcher.list().Snapshot();
    std::printf("snapshot of the list for a save: %.1f ms (%zu rows)\n", Ms(start),
                snapshot->size());
    TimeJournaledTick(switcher.list(), size_t(rows / 2));
    win::DeleteRegistryTree(HKEY_CURRENT_USER, "Software\\Quillworks\\RelaymothTest\\BenchProfile");
  }

  start = win::PreciseMs();
  for (int i = 0; i < 200; ++i) {
    SendMessageW(view, WM_VSCROLL, SB_PAGEDOWN, 0);
    UpdateWindow(view);
  }
  ListView_EnsureVisible(view, int(switcher.list().size()) - 1, FALSE);
  UpdateWindow(view);
  std::printf("scroll 200 pages and to the end: %.0f ms (top row %d)\n", Ms(start),
              ListView_GetTopIndex(view));

  NMLISTVIEW click{};
  click.hdr.hwndFrom = view;
  click.hdr.idFrom = IDC_PROXY_LIST;
  click.hdr.code = LVN_COLUMNCLICK;
  click.iItem = -1;
  click.iSubItem = 0;
  start = win::PreciseMs();
  SendMessageW(dialog.hwnd(), WM_NOTIFY, IDC_PROXY_LIST, LPARAM(&click));
  UpdateWindow(view);
  std::printf("sort by address (column click): %.0f ms (first %s, last %s)\n", Ms(start),
              switcher.list().RowHostPort(0).c_str(),
              switcher.list().RowHostPort(int64_t(switcher.list().size()) - 1).c_str());

  click.iSubItem = core::kColLocation;
  start = win::PreciseMs();
  SendMessageW(dialog.hwnd(), WM_NOTIFY, IDC_PROXY_LIST, LPARAM(&click));
  UpdateWindow(view);
  std::printf("sort by location (column click): %.0f ms (first %s)\n", Ms(start),
              switcher.list().RowFullLine(0).c_str());

  // Every row is selected here, as after an import.
  const core::ProxyList& list = switcher.list();
  double ms = TimeClick(view, RowPoint(view, 0), 0);
  std::printf("click on a row, all selected: %.0f ms (%zu selected)\n", ms, list.selected_count());
  ms = TimeClick(view, RowPoint(view, int(list.size() / 2)), MK_SHIFT);
  std::printf("shift-click half the list further: %.0f ms (%zu selected)\n", ms,
              list.selected_count());
  // Below the last row, with the list scrolled to its end.
  ListView_EnsureVisible(view, int(list.size()) - 1, FALSE);
  UpdateWindow(view);
  RECT client{};
  GetClientRect(view, &client);
  LVHITTESTINFO below{{client.right / 2, client.bottom - 2}, 0, 0, 0, 0};
  bool empty = ListView_HitTest(view, &below) < 0;
  ms = TimeClick(view, below.pt, 0);
  std::printf("click below the last row%s: %.0f ms (%zu selected)\n",
              empty ? "" : " (a row was there)", ms, list.selected_count());
  // Ctrl+A, as the user presses it.
  BYTE keys[256] = {};
  GetKeyboardState(keys);
  keys[VK_CONTROL] = 0x80;
  SetKeyboardState(keys);
  start = win::PreciseMs();
  SendMessageW(view, WM_KEYDOWN, 'A', 0);
  UpdateWindow(view);
  ms = Ms(start);
  keys[VK_CONTROL] = 0;
  SetKeyboardState(keys);
  // The view counts its selected rows by asking for each one: not timed.
  std::printf("select all (Ctrl+A): %.0f ms (%zu selected in the list, %u in the view)\n", ms,
              switcher.list().selected_count(), ListView_GetSelectedCount(view));
  start = win::PreciseMs();
  dialog.DeleteSelected();
  UpdateWindow(view);
  std::printf("delete all selected: %.0f ms (%zu rows left, %zu questions)\n", Ms(start),
              switcher.list().size(), prompt.shown.size());
  DeleteFileW(win::Utf8ToWide(file).c_str());
  return 0;
}
