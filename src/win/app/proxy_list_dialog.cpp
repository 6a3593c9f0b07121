#include "win/app/proxy_list_dialog.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <iterator>

#include "core/proxylist/add_tally.h"
#include "core/proxylist/list_file.h"
#include "core/proxylist/place_filter.h"
#include "win/app/about_dialog.h"
#include "win/app/place_filter_dialog.h"
#include "win/platform/resources.h"
#include "win/platform/unique_handle.h"
#include "win/platform/wide_text.h"
#include "win/res/resource.h"
#include "win/skin/gloss_menu.h"
#include "win/skin/skin_dpi.h"
#include "win/skin/skinned_dialog.h"
#include "win/ui/dialog_text.h"
#include "win/ui/work_area.h"

namespace win {
namespace {

struct ColumnSpec {
  const wchar_t* heading;
  int width;
};

// "IP服务器地址", "端口", "类型", "验证状态(秒)", "IP归属地", "验证结果"
constexpr ColumnSpec kColumns[core::kColumnCount] = {
    {L"IP\u670d\u52a1\u5668\u5730\u5740", 115},
    {L"\u7aef\u53e3", 45},
    {L"\u7c7b\u578b", 90},  // wide enough for "SOCKS4A (密码)"
    {L"\u9a8c\u8bc1\u72b6\u6001(\u79d2)", 90},
    {L"IP\u5f52\u5c5e\u5730", 140},
    {L"\u9a8c\u8bc1\u7ed3\u679c", 300},
};

int RunControlId(core::RunControl control) {
  switch (control) {
    case core::RunControl::kProxyList: return IDC_PROXY_LIST;
    case core::RunControl::kVerifyAll: return IDC_VERIFY_ALL;
    case core::RunControl::kVerifySelected: return IDC_VERIFY_SELECTED;
    case core::RunControl::kVerifySettings: return IDC_VERIFY_SETTINGS;
    case core::RunControl::kDownloadList: return IDC_DOWNLOAD_LIST;
    case core::RunControl::kAddProxy: return IDC_ADD_PROXY;
    case core::RunControl::kImportList: return IDC_IMPORT_LIST;
    case core::RunControl::kDeleteSelected: return IDC_DELETE_SELECTED;
    case core::RunControl::kStopVerify: return IDC_STOP_VERIFY;
  }
  return 0;
}

constexpr UINT kCheckedImage = INDEXTOSTATEIMAGEMASK(2);
constexpr UINT kUncheckedImage = INDEXTOSTATEIMAGEMASK(1);

}  // namespace

ProxyListDialog::ProxyListDialog(AppServices& services)
    : services_(services),
      platform_(services.platform()),
      switcher_(services.switcher()),
      list_(switcher_.list()),
      prompt_(*platform_.prompt),
      settings_dialog_(*platform_.profile, services.verify().settings(), prompt_,
                       platform_.secrets),
      run_settings_dialog_(*platform_.profile, *platform_.shortcuts, *platform_.run_key, prompt_,
                           platform_.program_path,
                           [&services](const core::RunSettings& settings,
                                       const core::ExitCheckSettings& exit_check) {
                             services.run_settings().Apply(settings);
                             services.exit_check().ApplySettings(exit_check);
                           }),
      download_settings_dialog_(*platform_.profile, services.downloads().settings(), prompt_),
      download_progress_dialog_(services.downloads().job()),
      selection_input_(list_, *this) {
  switcher_.events().Add(this);
}

ProxyListDialog::~ProxyListDialog() { switcher_.events().Remove(this); }

bool ProxyListDialog::Create(HWND parent) {
  return CreateModeless(platform_.instance, IDD_PROXY_LIST, parent);
}

void ProxyListDialog::Show() {
  if (hwnd() == nullptr) return;
  // A minimised dialog is restored: showing it alone would leave it an icon.
  if (IsIconic(hwnd())) ShowWindow(hwnd(), SW_RESTORE);
  KeepInsideWorkArea(hwnd());
  SetWindowPos(hwnd(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
  SetForegroundWindow(hwnd());
}

INT_PTR ProxyListDialog::HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case WM_INITDIALOG:
      ApplySkin(hwnd(), {IDC_PROXY_EDIT});
      OnInitDialog();
      return TRUE;
    case WM_COMMAND:
      OnCommand(LOWORD(wparam));
      return TRUE;
    case WM_NOTIFY:
      return OnNotify(reinterpret_cast<NMHDR*>(lparam));
    case WM_CLOSE:
      ShowWindow(hwnd(), SW_HIDE);
      return TRUE;
    case WM_DESTROY:
      // The timers outlive the window in the object: nothing is owed to a
      // window that is gone.
      refresh_timer_.Stop();
      place_timer_.Stop();
      return FALSE;
    case DM_GETDEFID:
      // Enter in the entry edit adds the entry; anywhere else (the list, a
      // check box) it does nothing rather than hide the dialog: "返回" is only
      // for a click. A focused push button still answers Enter itself.
      return SetResult(MAKELONG(
          GetFocus() == Item(IDC_PROXY_EDIT) ? IDC_ADD_PROXY : IDC_NO_DEFAULT_COMMAND,
          DC_HASDEFID));
  }
  return FALSE;
}

void ProxyListDialog::OnInitDialog() {
  HWND view = list_view();
  ListView_SetExtendedListViewStyle(view, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
  // A virtual list view keeps no states of its own beyond selection and focus:
  // the check boxes (state images) are asked for with every row, and so is the
  // selection (ListSelectionInput adds it and takes the input that selects).
  ListView_SetCallbackMask(view, LVIS_STATEIMAGEMASK);
  selection_input_.Attach(view);
  for (int i = 0; i < core::kColumnCount; ++i) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.fmt = LVCFMT_LEFT;
    column.cx = ScaleForWindow(view, kColumns[i].width);  // the widths are at 96 dpi
    column.pszText = const_cast<wchar_t*>(kColumns[i].heading);
    ListView_InsertColumn(view, i, &column);
  }
  // The result column takes the room the others leave (less a scroll bar), so
  // that a row's reasons read without a sideways scroll.
  RECT client{};
  GetClientRect(view, &client);
  int others = 0;
  for (int i = 0; i + 1 < core::kColumnCount; ++i) others += ListView_GetColumnWidth(view, i);
  int room = int(client.right - client.left) - others - GetSystemMetrics(SM_CXVSCROLL);
  int last = core::kColumnCount - 1;
  if (room > ListView_GetColumnWidth(view, last)) ListView_SetColumnWidth(view, last, room);
  SetDlgItemInt(hwnd(), IDC_AUTO_SWITCH_SECONDS, UINT(services_.auto_switch().state().interval()), TRUE);
  settings_dialog_.Create(hwnd());
  run_settings_dialog_.Create(hwnd());
  download_settings_dialog_.Create(hwnd());
  // A download's end goes to the list downloads, which import it.
  download_progress_dialog_.Create(hwnd(), &services_.downloads());
  // The switcher may hold rows and a run already.
  SyncRowCount();
  OnVerifyRunControls(services_.verify().running());
  RefreshListCaption();
  SchedulePlaceCount();
  // A place filter that no usable row passes shows from the start.
  if (!services_.auto_switch().place_note().empty()) OnExitCheckChanged();
}

void ProxyListDialog::OnCommand(int id) {
  switch (id) {
    case IDOK:
    case IDCANCEL:
      ShowWindow(hwnd(), SW_HIDE);
      break;
    case IDC_ADD_PROXY:
      OnAdd();
      break;
    case IDC_DELETE_SELECTED:
      DeleteSelected();
      break;
    case IDC_IMPORT_LIST:
      OnImport();
      break;
    case IDC_EXPORT_LIST:
      ShowPopupMenu(IDR_EXPORT_MENU);
      break;
    case IDM_EXPORT_HOST_PORT:
    case IDM_EXPORT_FULL_LINE:
    case IDM_EXPORT_WITH_PASSWORDS:
      OnExport(id);
      break;
    case IDC_ONLINE_HELP:
      OnHelp();
      break;
    case IDM_MAKE_RESERVED:
      list_.MakeSelectedReserved();
      break;
    case IDM_MAKE_FAVORITE:
      list_.MakeSelectedFavorite();
      break;
    case IDM_MAKE_GENERAL:
      list_.MakeSelectedGeneral();
      break;
    case IDM_SORT_BY_RESULT:
      SortKeepingFocus(core::kColStatus, 1);
      break;
    case IDC_VERIFY_ALL:
      services_.verify().VerifyAll();
      break;
    case IDC_VERIFY_SELECTED:
      services_.verify().VerifySelected();
      break;
    case IDC_STOP_VERIFY:
      services_.verify().Stop();
      break;
    case IDC_VERIFY_SETTINGS:
      ShowSettings();
      break;
    case IDC_RUN_SETTINGS:
      if (run_settings_dialog_.hwnd() != nullptr) run_settings_dialog_.ShowCentred();
      break;
    case IDC_AUTO_SWITCH:
      OnToggleAutoSwitch();
      break;
    case IDC_PLACE_FILTER:
      OnChoosePlaces();
      break;
    case IDC_DOWNLOAD_LIST:
      // The list URL the user configured (else the built-in full list); shown
      // and reported.
      download_progress_dialog_.StartVisible(
          std::string(core::ButtonDownloadUrl(services_.downloads().settings())),
          services_.downloads().path());
      break;
    case IDC_DOWNLOAD_SETTINGS:
      if (download_settings_dialog_.hwnd() != nullptr) download_settings_dialog_.ShowCentred();
      break;
  }
}

INT_PTR ProxyListDialog::OnNotify(NMHDR* header) {
  if (header->idFrom != IDC_PROXY_LIST) return FALSE;
  switch (header->code) {
    case LVN_GETDISPINFOW:
      OnGetDispInfo(reinterpret_cast<NMLVDISPINFOW*>(header));
      return TRUE;
    case NM_CLICK:
      OnClick();
      return TRUE;
    case NM_DBLCLK:
      OnDoubleClick(reinterpret_cast<NMITEMACTIVATE*>(header)->iItem);
      return SetResult(0);
    case LVN_KEYDOWN: {
      auto* key = reinterpret_cast<NMLVKEYDOWN*>(header);
      if (key->wVKey == VK_DELETE) DeleteSelected();
      if (key->wVKey == 'A' && GetKeyState(VK_CONTROL) < 0) list_.SelectAll(true);
      return TRUE;
    }
    case LVN_COLUMNCLICK: {
      int column = reinterpret_cast<NMLISTVIEW*>(header)->iSubItem;
      if (column >= 0 && column < core::kColumnCount) {
        SortKeepingFocus(column, list_.ColumnClickFlag(column));
      }
      return TRUE;
    }
  }
  return FALSE;
}

void ProxyListDialog::OnGetDispInfo(NMLVDISPINFOW* info) {
  LVITEMW& item = info->item;
  if (item.iItem < 0 || size_t(item.iItem) >= list_.size()) return;
  const core::ProxyRow& row = list_.row(size_t(item.iItem));
  if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0) {
    int column = item.iSubItem;
    cell_ = (column >= 0 && column < core::kColumnCount) ? Utf8ToWide(row.ShownColumn(column))
                                                         : std::wstring();
    size_t n = std::min(cell_.size(), size_t(item.cchTextMax - 1));
    std::copy_n(cell_.data(), n, item.pszText);
    item.pszText[n] = L'\0';
  }
  if (item.mask & LVIF_STATE) {
    constexpr UINT kOurs = LVIS_STATEIMAGEMASK | LVIS_SELECTED;
    item.state = (item.state & ~kOurs) | (row.favorite ? kCheckedImage : kUncheckedImage) |
                 (row.selected ? LVIS_SELECTED : 0);
    item.stateMask |= kOurs;
  }
}

void ProxyListDialog::OnClick() {
  HWND view = list_view();
  LVHITTESTINFO hit{};
  GetCursorPos(&hit.pt);
  ScreenToClient(view, &hit.pt);
  int row = ListView_HitTest(view, &hit);
  if (row < 0 || size_t(row) >= list_.size()) return;
  // A virtual list view draws the check boxes but leaves the ticking to us.
  // LVHT_ONITEM has the state-icon bit too: only the check box alone counts.
  if ((hit.flags & LVHT_ONITEM) == LVHT_ONITEMSTATEICON) ToggleChecks(row);
  OnRowClicked(row);
}

void ProxyListDialog::OnRowClicked(int row) {
  SetDlgItemTextW(hwnd(), IDC_PROXY_EDIT, Utf8ToWide(list_.RowHostPort(row)).c_str());
}

void ProxyListDialog::ToggleChecks(int row) {
  if (row >= 0) {
    list_.SetChecked(size_t(row), !list_.row(size_t(row)).favorite);
    return;
  }
  // Space: every selected row follows the first one's new state.
  const std::vector<core::RowSelection::Range>& ranges = list_.selection().ranges();
  if (ranges.empty()) return;
  bool on = !list_.row(ranges.front().first).favorite;
  core::ProxyList::Batch batch(list_);
  for (const core::RowSelection::Range& range : ranges) {
    for (size_t i = range.first; i < range.last; ++i) list_.SetChecked(i, on);
  }
}

void ProxyListDialog::OnDoubleClick(int row) {
  // A double click beside the rows switches nothing.
  if (row < 0 || size_t(row) >= list_.size()) return;
  // The page shows the new exit; after a refusal there is none to show.
  if (switcher_.Use(list_.IdAt(size_t(row)))) prompt_.OpenPage(hwnd(), kWhatIsMyIpPage);
}

void ProxyListDialog::OnAdd() {
  HWND edit = Item(IDC_PROXY_EDIT);
  core::AddResult added = list_.AddProxy(WindowTextUtf8(edit), false);
  if (added == core::AddResult::kAdded) {
    SetWindowTextW(edit, L"");
  } else if (added == core::AddResult::kListFull) {
    prompt_.Ask(hwnd(), core::ListFullText(), core::kMsgCaptionAddResult, MB_OK);
  }
  // The next line is typed at once: the focus goes back to the edit (left on
  // the button, Enter would hide the dialog).
  SendMessageW(hwnd(), WM_NEXTDLGCTL, WPARAM(edit), TRUE);
}

void ProxyListDialog::DeleteSelected() {
  if (list_.selected_count() == 0) return;
  if (prompt_.Ask(hwnd(), kDeleteQuestion, kDeleteCaption, MB_YESNO | MB_ICONQUESTION) != IDYES) {
    return;
  }
  list_.RemoveSelected();
}

void ProxyListDialog::RefreshListCaption() {
  std::string caption = services_.verify().Caption();
  caption += services_.imports().CaptionNote();
  caption += place_caption_;
  SetDlgItemTextW(hwnd(), IDC_LIST_GROUP, Utf8ToWide(caption).c_str());
}

void ProxyListDialog::SortKeepingFocus(int column, int flag) {
  // The selection lives in the rows and moves with them; the focus and the
  // selection mark are the view's and are moved to where their row went.
  HWND view = list_view();
  int focused_at = ListView_GetNextItem(view, -1, LVNI_FOCUSED);
  int mark_at = ListView_GetSelectionMark(view);
  core::RowId focused = focused_at >= 0 ? list_.IdAt(size_t(focused_at)) : core::kNoRow;
  core::RowId mark = mark_at >= 0 ? list_.IdAt(size_t(mark_at)) : core::kNoRow;
  list_.SortListColumn(column, flag);
  if (std::optional<size_t> at = list_.IndexOf(focused)) {
    ListView_SetItemState(view, int(*at), LVIS_FOCUSED, LVIS_FOCUSED);
  }
  if (std::optional<size_t> at = list_.IndexOf(mark)) ListView_SetSelectionMark(view, int(*at));
}

void ProxyListDialog::OnToggleAutoSwitch() {
  core::AutoSwitchToggle toggle =
      services_.auto_switch().Toggle(DialogItemText(hwnd(), IDC_AUTO_SWITCH_SECONDS));
  // A refused interval: the edit shows the one still in force.
  if (!toggle.error.empty()) {
    SetDlgItemInt(hwnd(), IDC_AUTO_SWITCH_SECONDS, UINT(services_.auto_switch().state().interval()), TRUE);
  }
  SetDialogItemText(hwnd(), IDC_AUTO_SWITCH, toggle.button_text);
}

void ProxyListDialog::OnChoosePlaces() {
  core::PlaceFilter filter = switcher_.place_filter();
  if (RunPlaceFilterDialog(hwnd(), list_, &filter)) switcher_.SetPlaceFilter(std::move(filter));
}

void ProxyListDialog::SchedulePlaceCount() {
  // Before the window exists there is no caption; its creation counts.
  if (place_timer_.active() || hwnd() == nullptr) return;
  place_timer_.StartOnce(kPlaceCountMs, [this] { RefreshPlaceCount(); });
  if (!place_timer_.active()) RefreshPlaceCount();
}

void ProxyListDialog::RefreshPlaceCount() {
  place_timer_.Stop();
  if (hwnd() == nullptr) return;
  // With a filter only the rows that pass it are counted, without one only
  // the provinces are shown.
  const core::PlaceFilter& places = switcher_.place_filter();
  place_caption_ = places.empty()
                       ? core::PlaceCaptionNote(core::CountPlaces(list_), places, 0)
                       : core::PlaceCaptionNote({}, places, core::CountPassingRows(list_, places));
  RefreshListCaption();
}

void ProxyListDialog::ShowSettings() {
  if (settings_dialog_.hwnd() != nullptr) settings_dialog_.ShowCentred();
}

void ProxyListDialog::OnImport() {
  std::string path;
  if (!prompt_.ChooseFileToOpen(hwnd(), &path)) return;
  ImportFile(path);
}

void ProxyListDialog::ImportFile(const std::string& path) {
  // A large file is read on a worker and its summary comes later, through the
  // program's message owner: this dialog may be gone by then.
  if (ListImports::IsLarge(path)) {
    Switcher& switcher = switcher_;
    services_.imports().Import(
        {path, true, false, core::LineOrigin::kUser, "",
         [&switcher](const core::ImportSummary& s) { switcher.Ask(s.message, s.caption, MB_OK); }});
    return;
  }
  HCURSOR old = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  core::ImportSummary summary = core::ImportListFile(path, list_, true, false, *platform_.codec);
  SetCursor(old);
  prompt_.Ask(hwnd(), summary.message, summary.caption, MB_OK);
}

void ProxyListDialog::OnExport(int command) {
  if (list_.empty()) {
    prompt_.Ask(hwnd(), core::kMsgListEmpty, core::kMsgCaptionCannotDo, MB_OK);
    return;
  }
  int answer =
      prompt_.Ask(hwnd(), kExportQuestion, kExportCaption, MB_YESNOCANCEL | MB_ICONQUESTION);
  if (answer != IDYES && answer != IDNO) return;
  std::string path;
  if (!prompt_.ChooseFileToSave(hwnd(), &path)) return;
  core::ExportForm form = command == IDM_EXPORT_HOST_PORT   ? core::ExportForm::kHostPort
                          : command == IDM_EXPORT_FULL_LINE ? core::ExportForm::kFullLine
                                                            : core::ExportForm::kWithLogins;
  core::ExportSummary summary = core::ExportListFile(path, list_, form, answer == IDYES, *platform_.codec);
  prompt_.Ask(hwnd(), summary.message, summary.caption, MB_OK);
}

void ProxyListDialog::OnHelp() {
  std::string page = WideToUtf8(GetModuleFolder()) + std::string(kHelpPageFile);
  RunAboutDialog(platform_.instance, hwnd(), prompt_, page);
}

void ProxyListDialog::ShowPopupMenu(int menu_id) {
  // The program's flat menus; the dialog's skin measures and draws the items.
  GlossMenu menu = GlossMenu::Load(platform_.instance, menu_id);
  if (!menu.get()) return;
  POINT pt{};
  GetCursorPos(&pt);
  TrackPopupMenu(menu.SubMenu(0), TPM_LEFTALIGN | TPM_RIGHTBUTTON, pt.x, pt.y, 0, hwnd(), nullptr);
}

void ProxyListDialog::OnRowsAppended(size_t, size_t) {
  SyncRowCount();
  SchedulePlaceCount();
}

void ProxyListDialog::OnRowChanged(size_t row) {
  if (!VerifyRunOn()) {
    ListView_RedrawItems(list_view(), int(row), int(row));
    return;
  }
  stale_rows_ = stale_rows_ ? std::pair(std::min(stale_rows_->first, row),
                                        std::max(stale_rows_->second, row))
                            : std::pair(row, row);
  ScheduleViewRefresh();
}

void ProxyListDialog::ScheduleViewRefresh() {
  if (refresh_timer_.active()) return;
  refresh_timer_.StartOnce(kViewRefreshMs, [this] { RefreshView(); });
  // Without a timer the view keeps up at once, as outside a run.
  if (!refresh_timer_.active()) RefreshView();
}

void ProxyListDialog::RefreshView() {
  refresh_timer_.Stop();
  HWND view = list_view();
  if (row_to_show_ && *row_to_show_ < list_.size()) {
    ListView_EnsureVisible(view, int(*row_to_show_), FALSE);
  }
  row_to_show_.reset();
  if (stale_rows_ && !list_.empty()) {
    // Rows off the screen are drawn afresh when they are scrolled to.
    size_t top = size_t(std::max(ListView_GetTopIndex(view), 0));
    size_t bottom = top + size_t(std::max(ListView_GetCountPerPage(view), 0));
    size_t first = std::max(stale_rows_->first, top);
    size_t last = std::min({stale_rows_->second, bottom, list_.size() - 1});
    if (first <= last) ListView_RedrawItems(view, int(first), int(last));
  }
  stale_rows_.reset();
  if (caption_stale_) RefreshListCaption();
  caption_stale_ = false;
}

void ProxyListDialog::OnRowsReset() {
  SyncRowCount();
  SchedulePlaceCount();
}

void ProxyListDialog::OnSelectionChanged() {
  // The view draws the selection from the list: the rows on screen are drawn
  // again, whatever number of rows changed.
  if (HWND view = list_view()) InvalidateRect(view, nullptr, FALSE);
}

void ProxyListDialog::OnVerifyRunControls(bool running) {
  for (const core::ControlState& state : core::RunControlStates(running)) {
    EnableWindow(Item(RunControlId(state.control)), state.enabled ? TRUE : FALSE);
  }
  // The run's end shows at once, with its last rows and counters.
  if (!running) RefreshView();
}

void ProxyListDialog::OnShowRow(size_t row) {
  if (!VerifyRunOn()) {
    if (row < list_.size()) ListView_EnsureVisible(list_view(), int(row), FALSE);
    return;
  }
  row_to_show_ = row;
  ScheduleViewRefresh();
}

void ProxyListDialog::OnCaptionChanged() {
  if (!VerifyRunOn()) return RefreshListCaption();
  caption_stale_ = true;
  ScheduleViewRefresh();
}

void ProxyListDialog::OnExitCheckChanged() {
  // The title bar carries what the floating window's tooltip says.
  std::wstring title = LoadResourceString(platform_.instance, IDS_APP_TITLE);
  std::string name = switcher_.InUseName();
  if (services_.exit_check().settings().enabled) {
    title += L"  " + Utf8ToWide(services_.exit_check().check().TipText(name));
  } else if (name != switcher_.current_proxy() || switcher_.in_use().rotation) {
    title += L"  " + Utf8ToWide(name);
  }
  if (!services_.auto_switch().place_note().empty()) {
    title += L"  " + Utf8ToWide(services_.auto_switch().place_note());
  }
  SetWindowTextW(hwnd(), title.c_str());
  RedrawWindow(hwnd(), nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE);
}

void ProxyListDialog::SyncRowCount() {
  HWND view = list_view();
  if (view == nullptr) return;
  ListView_SetItemCountEx(view, int(list_.size()), LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
  InvalidateRect(view, nullptr, TRUE);
}

}  // namespace win
