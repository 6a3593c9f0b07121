#include "win/app/verify_settings_dialog.h"

#include <commctrl.h>

#include <algorithm>
#include <array>
#include <string>
#include <utility>

#include "core/base/text.h"
#include "core/verify/site_url.h"
#include "win/app/site_editor_dialog.h"
#include "win/platform/wide_text.h"
#include "win/res/resource.h"
#include "win/skin/skin_dpi.h"
#include "win/skin/skinned_dialog.h"
#include "win/ui/dialog_text.h"
#include "win/ui/work_area.h"

namespace win {
namespace {

struct CheckField {
  int id;
  bool core::VerifySettings::*member;
};

constexpr std::string_view kVerifySettingsNotSaved = "保存验证参数失败：";
// The seal was refused: those sites were saved, and are reloaded, without it.
constexpr const char* kPasswordsNotSealed =
    "%d个验证站点的密码无法加密保存，这些站点已保存为不带密码的地址，请在能加密时重新填写。";

constexpr CheckField kChecks[] = {
    {IDC_VERIFY_NEW, &core::VerifySettings::verify_new_proxy},
    {IDC_REVERIFY_BY_TIME, &core::VerifySettings::reverify_by_time},
    {IDC_AUTO_USE_BEST, &core::VerifySettings::auto_use_best},
    {IDC_AUTO_DELETE_FAILED, &core::VerifySettings::auto_delete_failed},
    {IDC_RESET_FAVORITES, &core::VerifySettings::reset_favorites},
    {IDC_ADD_BEST, &core::VerifySettings::add_best},
    {IDC_ADD_LINK_TIME_LESS, &core::VerifySettings::add_link_time_less},
    {IDC_ONLY_SELECTED_TYPES, &core::VerifySettings::only_selected_types},
    {IDC_ADD_HTTP, &core::VerifySettings::add_http},
    {IDC_ADD_SOCKS, &core::VerifySettings::add_socks},
    {IDC_ADD_FTP, &core::VerifySettings::add_ftp},
    {IDC_DETECT_UNTYPED, &core::VerifySettings::detect_untyped_type},
};

// The controls that only count while IDC_RESET_FAVORITES is ticked.
constexpr int kResetDependents[] = {
    IDC_ADD_BEST,       IDC_BEST_COUNT,    IDC_BEST_COUNT_LABEL,    IDC_ADD_LINK_TIME_LESS,
    IDC_TIME_LESS_THAN, IDC_SECONDS_LABEL, IDC_ONLY_SELECTED_TYPES, IDC_ADD_HTTP,
    IDC_ADD_SOCKS,      IDC_ADD_FTP,
};

int FieldControl(core::VerifyField field) {
  switch (field) {
    case core::VerifyField::kThreads:
      return IDC_THREADS;
    case core::VerifyField::kReverifyInterval:
      return IDC_REVERIFY_INTERVAL;
    case core::VerifyField::kBestCount:
      return IDC_BEST_COUNT;
    case core::VerifyField::kConnectsInFlight:
      return IDC_CONNECTS_IN_FLIGHT;
    default:
      return IDC_TIME_LESS_THAN;
  }
}

bool Checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

// The site list's column widths at 96 dpi: "启用", "验证服务器URL", "验证字符串".
constexpr int kSiteColumnWidths[] = {40, 173, 80};

}  // namespace

std::array<int, 3> SiteColumnWidths(int list_width, int dpi) {
  const int enabled = ScaleByDpi(kSiteColumnWidths[0], dpi);
  const int verify = ScaleByDpi(kSiteColumnWidths[2], dpi);
  // The URL column takes what is left, but never shrinks to nothing.
  const int url = std::max(list_width - enabled - verify, ScaleByDpi(kSiteColumnWidths[0], dpi));
  return {enabled, url, verify};
}

VerifySettingsDialog::VerifySettingsDialog(core::ProfileStore& store,
                                           core::VerifySettings& settings, Prompt& prompt,
                                           core::SecretCodec* secrets)
    : store_(store), settings_(settings), prompt_(prompt), secrets_(secrets) {
  editor_ = [this](HWND owner, std::string* url, std::string* verify_string) {
    return RunSiteEditor(owner, prompt_, url, verify_string);
  };
}

bool VerifySettingsDialog::Create(HWND owner) {
  return CreateModeless(GetModuleHandleW(nullptr), IDD_VERIFY_SETTINGS, owner);
}

void VerifySettingsDialog::ShowCentred() {
  ShowCentredOnOwner(hwnd());
}

INT_PTR VerifySettingsDialog::HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case WM_INITDIALOG:
      ApplySkin(hwnd());
      OnInitDialog();
      return TRUE;
    case WM_SHOWWINDOW:
      // Edits neither confirmed nor cancelled are dropped when the dialog is
      // shown or hidden. Only a real show or hide (lParam 0) counts: an owner
      // being minimised or restored sends this too, also while the site
      // editor or a question is open over the dialog.
      if (lparam == 0) Load();
      return FALSE;
    case WM_COMMAND:
      OnCommand(LOWORD(wparam));
      return TRUE;
    case WM_NOTIFY:
      return OnNotify(reinterpret_cast<const NMHDR*>(lparam));
    default:
      return FALSE;
  }
}

void VerifySettingsDialog::OnInitDialog() {
  HWND list = Item(IDC_SITE_LIST);
  ListView_SetExtendedListViewStyle(list, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
  const char* const titles[] = {"启用", "验证服务器URL", "验证字符串"};
  for (int i = 0; i < 3; ++i) {
    std::wstring title = Utf8ToWide(titles[i]);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.pszText = title.data();
    column.cx = kSiteColumnWidths[i];
    column.iSubItem = i;
    ListView_InsertColumn(list, i, &column);
  }
  SetGlyphButtonFont();
  for (const char* entry : {"全部ip", "常用ip"}) {
    SendDlgItemMessageW(hwnd(), IDC_REVERIFY_ROWS, CB_ADDSTRING, 0,
                        LPARAM(Utf8ToWide(entry).c_str()));
  }
  Load();
}

void VerifySettingsDialog::SetGlyphButtonFont() {
  // The arrows and the cross are single symbols: in the dialog's font they are
  // thin strokes a few pixels high, so they get a bold font a third larger.
  LOGFONTW face{};
  const auto dialog_font = reinterpret_cast<HFONT>(SendMessageW(hwnd(), WM_GETFONT, 0, 0));
  if (dialog_font == nullptr || GetObjectW(dialog_font, sizeof(face), &face) == 0) return;
  face.lfHeight = face.lfHeight * 4 / 3;
  face.lfWidth = 0;
  face.lfWeight = FW_BOLD;
  glyph_font_.reset(CreateFontIndirectW(&face));
  if (!glyph_font_) return;
  for (int id : {IDC_SITE_TOP, IDC_SITE_UP, IDC_SITE_DOWN, IDC_SITE_BOTTOM, IDC_DELETE_SITE}) {
    SendMessageW(Item(id), WM_SETFONT, WPARAM(glyph_font_.get()), FALSE);
  }
}

void VerifySettingsDialog::Load() {
  // What did not open was told at the start; it stays lost until retyped.
  settings_ = core::LoadVerifySettings(store_, secrets_);
  if (hwnd() != nullptr) FillControls();
}

void VerifySettingsDialog::FillControls() {
  for (const CheckField& check : kChecks) {
    CheckDlgButton(hwnd(), check.id, settings_.*check.member ? BST_CHECKED : BST_UNCHECKED);
  }
  SetDialogItemText(hwnd(), IDC_THREADS, std::to_string(settings_.threads));
  SetDialogItemText(hwnd(), IDC_CONNECTS_IN_FLIGHT, std::to_string(settings_.connects_in_flight));
  SetDialogItemText(hwnd(), IDC_REVERIFY_INTERVAL, std::to_string(settings_.reverify_interval));
  SetDialogItemText(hwnd(), IDC_BEST_COUNT, std::to_string(settings_.best_count));
  SetDialogItemText(hwnd(), IDC_TIME_LESS_THAN, core::Format("%g", settings_.time_less_than));
  SendDlgItemMessageW(hwnd(), IDC_REVERIFY_ROWS, CB_SETCURSEL,
                      settings_.only_favorite_rows ? 1 : 0, 0);
  EnableResetDependents();
  FillSiteList();
}

void VerifySettingsDialog::FillSiteList() {
  HWND list = Item(IDC_SITE_LIST);
  filling_ = true;
  ListView_DeleteAllItems(list);
  for (size_t i = 0; i < settings_.sites.size(); ++i) {
    const core::VerifySite& site = settings_.sites[i];
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = int(i);
    item.pszText = const_cast<wchar_t*>(L"");
    int row = ListView_InsertItem(list, &item);
    std::wstring url = Utf8ToWide(core::SiteUrlForDisplay(site.url));
    std::wstring verify = Utf8ToWide(site.verify_string);
    ListView_SetItemText(list, row, 1, url.data());
    ListView_SetItemText(list, row, 2, verify.data());
    ListView_SetCheckState(list, row, site.favorite);
  }
  filling_ = false;
  FitSiteColumns();
}

void VerifySettingsDialog::FitSiteColumns() {
  HWND list = Item(IDC_SITE_LIST);
  RECT client{};
  GetClientRect(list, &client);
  int width = client.right;
  // The vertical scroll bar may not be there yet when the rows have just been
  // filled: room for it is kept whenever the rows need it.
  const bool needs_scroll = ListView_GetItemCount(list) > ListView_GetCountPerPage(list);
  if (needs_scroll && (GetWindowLongPtrW(list, GWL_STYLE) & WS_VSCROLL) == 0) {
    width -= GetSystemMetrics(SM_CXVSCROLL);
  }
  const std::array<int, 3> widths = SiteColumnWidths(width, DpiOfWindow(list));
  for (int i = 0; i < 3; ++i) ListView_SetColumnWidth(list, i, widths[i]);
}

void VerifySettingsDialog::EnableResetDependents() {
  bool on = Checked(hwnd(), IDC_RESET_FAVORITES);
  for (int id : kResetDependents) EnableWindow(Item(id), on);
}

void VerifySettingsDialog::OnCommand(int id) {
  switch (id) {
    case IDOK:
      return OnConfirm();
    case IDCANCEL:
      return OnCancel();
    case IDC_RESET_FAVORITES:
      settings_.reset_favorites = Checked(hwnd(), IDC_RESET_FAVORITES);
      return EnableResetDependents();
    case IDC_NEW_SITE:
      return OnNewSite();
    case IDC_EDIT_SITE:
      return OnEditSite(SelectedSite());
    case IDC_DELETE_SITE:
      return OnDeleteSite();
    case IDC_SITE_TOP:
    case IDC_SITE_UP:
    case IDC_SITE_DOWN:
    case IDC_SITE_BOTTOM:
      return OnMove(id);
    default:
      return;
  }
}

INT_PTR VerifySettingsDialog::OnNotify(const NMHDR* header) {
  if (header->idFrom != IDC_SITE_LIST) return FALSE;
  if (header->code == LVN_ITEMCHANGED && !filling_) {
    const auto* change = reinterpret_cast<const NMLISTVIEW*>(header);
    if ((change->uChanged & LVIF_STATE) &&
        (change->uNewState ^ change->uOldState) & LVIS_STATEIMAGEMASK && change->iItem >= 0 &&
        size_t(change->iItem) < settings_.sites.size()) {
      // A tick counts at once: the next row handed to a worker uses it.
      settings_.sites[size_t(change->iItem)].favorite =
          ListView_GetCheckState(Item(IDC_SITE_LIST), change->iItem) != 0;
    }
    return TRUE;
  }
  if (header->code == NM_DBLCLK) {
    const auto* click = reinterpret_cast<const NMITEMACTIVATE*>(header);
    if (click->iItem >= 0) OnEditSite(click->iItem);
    return TRUE;
  }
  return FALSE;
}

void VerifySettingsDialog::OnConfirm() {
  core::VerifySettingsFields fields;
  fields.threads = DialogItemText(hwnd(), IDC_THREADS);
  fields.connects_in_flight = DialogItemText(hwnd(), IDC_CONNECTS_IN_FLIGHT);
  fields.reverify_interval = DialogItemText(hwnd(), IDC_REVERIFY_INTERVAL);
  fields.best_count = DialogItemText(hwnd(), IDC_BEST_COUNT);
  fields.time_less_than = DialogItemText(hwnd(), IDC_TIME_LESS_THAN);
  core::VerifySettings confirmed = settings_;
  if (auto error = core::ApplyVerifySettingsFields(fields, &confirmed)) {
    prompt_.Ask(hwnd(), error->message, "验证参数设置", MB_OK | MB_ICONEXCLAMATION);
    HWND edit = Item(FieldControl(error->field));
    SendMessageW(hwnd(), WM_NEXTDLGCTL, WPARAM(edit), TRUE);
    SendMessageW(edit, EM_SETSEL, 0, -1);
    return;
  }
  for (const CheckField& check : kChecks) confirmed.*check.member = Checked(hwnd(), check.id);
  confirmed.only_favorite_rows =
      SendDlgItemMessageW(hwnd(), IDC_REVERIFY_ROWS, CB_GETCURSEL, 0, 0) == 1;
  settings_ = std::move(confirmed);
  int unsealed = 0;
  if (core::WriteStatus saved = core::SaveVerifySettings(settings_, store_, secrets_, &unsealed);
      !saved) {
    // In force until the program ends, lost after: say so and stay open.
    prompt_.Ask(hwnd(), std::string(kVerifySettingsNotSaved) + saved.reason(), "验证参数设置",
                MB_OK | MB_ICONWARNING);
    return;
  }
  if (unsealed > 0) {
    prompt_.Ask(hwnd(), core::Format(kPasswordsNotSealed, unsealed), "验证参数设置",
                MB_OK | MB_ICONWARNING);
  }
  ShowWindow(hwnd(), SW_HIDE);
}

void VerifySettingsDialog::OnCancel() {
  Load();
  ShowWindow(hwnd(), SW_HIDE);
}

void VerifySettingsDialog::OnNewSite() {
  std::string url, verify;
  if (!editor_(hwnd(), &url, &verify)) return;
  core::VerifySite site{std::string(core::Trim(url)), std::string(core::Trim(verify)), true};
  if (site.url.empty()) return;
  settings_.sites.push_back(std::move(site));
  FillSiteList();
  SelectSite(int(settings_.sites.size()) - 1);
}

void VerifySettingsDialog::OnEditSite(int row) {
  if (row < 0 || size_t(row) >= settings_.sites.size()) {
    prompt_.Ask(hwnd(), "请先选择一个要编辑的验证站点", "无法完成操作",
                     MB_OK | MB_ICONWARNING);
    return;
  }
  // A copy: the sites may change while the editor is open.
  const core::VerifySite before = settings_.sites[size_t(row)];
  std::string url = before.url, verify = before.verify_string;
  if (!editor_(hwnd(), &url, &verify)) return;
  row = FindSite(before, row);
  if (row < 0) return;  // the site is gone meanwhile: nothing to change
  core::VerifySite& site = settings_.sites[size_t(row)];
  site.url = std::string(core::Trim(url));
  site.verify_string = std::string(core::Trim(verify));
  FillSiteList();
  SelectSite(row);
}

int VerifySettingsDialog::FindSite(const core::VerifySite& site, int hint) const {
  auto same = [&site](const core::VerifySite& s) {
    return s.url == site.url && s.verify_string == site.verify_string;
  };
  if (hint >= 0 && size_t(hint) < settings_.sites.size() && same(settings_.sites[size_t(hint)])) {
    return hint;
  }
  for (size_t i = 0; i < settings_.sites.size(); ++i) {
    if (same(settings_.sites[i])) return int(i);
  }
  return -1;
}

void VerifySettingsDialog::OnDeleteSite() {
  int row = SelectedSite();
  if (row < 0 || size_t(row) >= settings_.sites.size()) return;
  const core::VerifySite site = settings_.sites[size_t(row)];
  if (prompt_.Ask(hwnd(), "您确定要删除这个验证站点？", "请确认", MB_YESNO | MB_ICONQUESTION) !=
      IDYES) {
    return;
  }
  row = FindSite(site, row);
  if (row < 0) return;
  settings_.sites.erase(settings_.sites.begin() + row);
  FillSiteList();
}

void VerifySettingsDialog::OnMove(int id) {
  int row = SelectedSite();
  int last = int(settings_.sites.size()) - 1;
  if (row < 0) return;
  int to = row;
  if (id == IDC_SITE_TOP) to = 0;
  if (id == IDC_SITE_UP) to = row - 1;
  if (id == IDC_SITE_DOWN) to = row + 1;
  if (id == IDC_SITE_BOTTOM) to = last;
  if (to < 0 || to > last || to == row) return;
  core::VerifySite site = std::move(settings_.sites[size_t(row)]);
  settings_.sites.erase(settings_.sites.begin() + row);
  settings_.sites.insert(settings_.sites.begin() + to, std::move(site));
  FillSiteList();
  SelectSite(to);
}

int VerifySettingsDialog::SelectedSite() const {
  return ListView_GetNextItem(Item(IDC_SITE_LIST), -1, LVNI_SELECTED);
}

void VerifySettingsDialog::SelectSite(int row) {
  HWND list = Item(IDC_SITE_LIST);
  ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  ListView_EnsureVisible(list, row, FALSE);
}

}  // namespace win
