#include "win/app/place_filter_dialog.h"

// After windows.h, which it builds on.
#include <commctrl.h>

#include <string>
#include <utility>

#include "win/platform/wide_text.h"
#include "win/res/resource.h"
#include "win/skin/skin_dpi.h"
#include "win/skin/skinned_dialog.h"
#include "win/ui/dialog_text.h"
#include "win/ui/work_area.h"

namespace win {
namespace {

constexpr int kListIds[] = {IDC_PLACE_PROVINCES, IDC_PLACE_CITIES, IDC_PLACE_CARRIERS};
constexpr int kCountColumnWidth = 48;  // pixels at 96 dpi

}  // namespace

PlaceFilterDialog::PlaceFilterDialog(const core::ProxyList& list, core::PlaceFilter filter)
    : list_(list), filter_(std::move(filter)) {}

INT_PTR PlaceFilterDialog::Run(HWND owner) {
  return RunModal(GetModuleHandleW(nullptr), IDD_PLACE_FILTER, owner);
}

INT_PTR PlaceFilterDialog::HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case WM_INITDIALOG:
      ApplySkin(hwnd());
      OnInitDialog();
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case IDOK:
          filter_ = Ticked();
          EndDialog(hwnd(), IDOK);
          return TRUE;
        case IDCANCEL:
          EndDialog(hwnd(), IDCANCEL);
          return TRUE;
        case IDC_PLACE_EXCLUDE:
          ShowMatching();
          return TRUE;
        case IDC_PLACE_CLEAR:
          ClearTicks();
          return TRUE;
      }
      return FALSE;
    case WM_NOTIFY: {
      const auto* change = reinterpret_cast<const NMLISTVIEW*>(lparam);
      // Only a change of a check box counts, and none while the lists fill.
      if (change->hdr.code == LVN_ITEMCHANGED && !filling_ && (change->uChanged & LVIF_STATE) &&
          ((change->uNewState ^ change->uOldState) & LVIS_STATEIMAGEMASK)) {
        ShowMatching();
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}

void PlaceFilterDialog::OnInitDialog() {
  choices_ = core::PlaceChoices(core::CountPlaces(list_), filter_);
  FillList(IDC_PLACE_PROVINCES, core::PlaceKind::kProvince, "省份");
  FillList(IDC_PLACE_CITIES, core::PlaceKind::kCity, "城市");
  FillList(IDC_PLACE_CARRIERS, core::PlaceKind::kCarrier, "运营商");
  CheckDlgButton(hwnd(), IDC_PLACE_EXCLUDE, filter_.exclude ? BST_CHECKED : BST_UNCHECKED);
  ShowMatching();
  CentreOnOwner(hwnd());
}

void PlaceFilterDialog::FillList(int id, core::PlaceKind kind, const char* heading) {
  HWND view = Item(id);
  ListView_SetExtendedListViewStyle(view, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
  RECT client{};
  GetClientRect(view, &client);
  int count_width = ScaleForWindow(view, kCountColumnWidth);
  // The names take the room the count and a scroll bar leave.
  int name_width = int(client.right) - count_width - GetSystemMetrics(SM_CXVSCROLL);
  std::wstring titles[] = {Utf8ToWide(heading), L"IP\u6570"};  // "IP数"
  int widths[] = {name_width, count_width};
  for (int i = 0; i < 2; ++i) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.pszText = titles[i].data();
    column.cx = widths[i];
    column.iSubItem = i;
    ListView_InsertColumn(view, i, &column);
  }
  filling_ = true;
  for (size_t i = 0; i < choices_.size(); ++i) {
    const core::PlaceChoice& choice = choices_[i];
    if (choice.place.kind != kind) continue;
    std::wstring name = Utf8ToWide(choice.place.name);
    std::wstring rows = std::to_wstring(choice.rows);
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = ListView_GetItemCount(view);
    item.pszText = name.data();
    item.lParam = LPARAM(i);
    int row = ListView_InsertItem(view, &item);
    if (row < 0) continue;
    ListView_SetItemText(view, row, 1, rows.data());
    ListView_SetCheckState(view, row, choice.ticked);
  }
  filling_ = false;
}

core::PlaceFilter PlaceFilterDialog::Ticked() const {
  core::PlaceFilter ticked;
  for (int id : kListIds) {
    HWND view = Item(id);
    for (int row = 0, n = ListView_GetItemCount(view); row < n; ++row) {
      if (!ListView_GetCheckState(view, row)) continue;
      LVITEMW item{};
      item.mask = LVIF_PARAM;
      item.iItem = row;
      if (ListView_GetItem(view, &item) && size_t(item.lParam) < choices_.size()) {
        ticked.entries.push_back(choices_[size_t(item.lParam)].place);
      }
    }
  }
  // Excluding nothing is no filter at all.
  ticked.exclude = !ticked.entries.empty() && IsDlgButtonChecked(hwnd(), IDC_PLACE_EXCLUDE);
  return ticked;
}

void PlaceFilterDialog::ShowMatching() {
  size_t passing = core::CountPassingRows(list_, Ticked());
  SetDialogItemText(
      hwnd(), IDC_PLACE_MATCHING,
      "符合条件的IP: " + std::to_string(passing) + " / " + std::to_string(list_.size()));
}

void PlaceFilterDialog::ClearTicks() {
  filling_ = true;
  for (int id : kListIds) ListView_SetCheckState(Item(id), -1, FALSE);
  filling_ = false;
  ShowMatching();
}

bool RunPlaceFilterDialog(HWND owner, const core::ProxyList& list, core::PlaceFilter* filter) {
  PlaceFilterDialog dialog(list, *filter);
  if (dialog.Run(owner) != IDOK) return false;
  *filter = dialog.filter();
  return true;
}

}  // namespace win
