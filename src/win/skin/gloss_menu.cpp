#include "win/skin/gloss_menu.h"

#include <commctrl.h>

#include <map>
#include <unordered_set>

#include "win/platform/wide_text.h"
#include "win/skin/skin_dpi.h"
#include "win/skin/skin_paint.h"
#include "win/ui/subclass.h"

namespace win {
namespace {

constexpr UINT_PTR kOwnerSubclassId = 0x534B4D31;

// Records of every GlossMenu alive: item data is only trusted when it is one of
// them, since other owner-drawn menus may reach the same window.
std::unordered_set<const GlossItemRecord*>& LiveRecords() {
  static std::unordered_set<const GlossItemRecord*> records;
  return records;
}

const GlossItemRecord* LiveRecord(ULONG_PTR data) {
  const auto* record = reinterpret_cast<const GlossItemRecord*>(data);
  return record != nullptr && LiveRecords().count(record) != 0 ? record : nullptr;
}

template <typename Fn>
Fn LookUp(const char* name) {
  return reinterpret_cast<Fn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

// The system's menu font at `dpi`, created once per DPI and kept for the life
// of the process.
HFONT MenuFont(int dpi) {
  static std::map<int, UniqueFont> fonts;
  UniqueFont& font = fonts[dpi];
  if (font) return font.get();
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  using ForDpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
  static const ForDpiFn for_dpi = LookUp<ForDpiFn>("SystemParametersInfoForDpi");
  bool ok = for_dpi != nullptr &&
            for_dpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, UINT(dpi)) != FALSE;
  if (!ok) {
    ok = SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0) != FALSE;
    if (ok) metrics.lfMenuFont.lfHeight = ScaleByDpi(metrics.lfMenuFont.lfHeight, dpi);
  }
  font.reset(ok ? CreateFontIndirectW(&metrics.lfMenuFont) : nullptr);
  return font ? font.get() : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

int MenuHeight(int dpi) {
  using ForDpiFn = int(WINAPI*)(int, UINT);
  static const ForDpiFn for_dpi = LookUp<ForDpiFn>("GetSystemMetricsForDpi");
  if (for_dpi != nullptr) return for_dpi(SM_CYMENU, UINT(dpi));
  return GetSystemMetrics(SM_CYMENU);
}

MenuItemLook LookOf(const GlossItemRecord& record, int dpi) {
  MenuItemLook look;
  look.text = record.text;
  look.separator = record.separator;
  look.font = MenuFont(dpi);
  look.dpi = dpi;
  look.marks = record.marks;
  return look;
}

// The item to act on for access key `key` in `menu`: the only match executes,
// several matches select the next one after the highlighted item.
bool AnswerMenuChar(HMENU menu, wchar_t key, LRESULT* result) {
  if (key == 0) return false;
  key = wchar_t(reinterpret_cast<ULONG_PTR>(CharUpperW(reinterpret_cast<LPWSTR>(ULONG_PTR(key)))));
  const int count = GetMenuItemCount(menu);
  std::vector<int> matches;
  int highlighted = -1;
  for (int i = 0; i < count; ++i) {
    MENUITEMINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_DATA | MIIM_STATE;
    if (!GetMenuItemInfoW(menu, UINT(i), TRUE, &info)) continue;
    if (info.fState & MFS_HILITE) highlighted = i;
    const GlossItemRecord* record = LiveRecord(info.dwItemData);
    if (record != nullptr && !record->separator && MenuAccessKey(record->text) == key) {
      matches.push_back(i);
    }
  }
  if (matches.empty()) return false;
  if (matches.size() == 1) {
    *result = MAKELRESULT(matches[0], MNC_EXECUTE);
    return true;
  }
  int pick = matches[0];
  for (int m : matches) {
    if (m > highlighted) {
      pick = m;
      break;
    }
  }
  *result = MAKELRESULT(pick, MNC_SELECT);
  return true;
}

LRESULT CALLBACK OwnerProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, UINT_PTR,
                           DWORD_PTR) {
  LRESULT result = 0;
  if (HandleGlossMenuMessage(hwnd, msg, wparam, lparam, &result)) return result;
  if (msg == WM_NCDESTROY) RemoveSubclass(hwnd, &OwnerProc, kOwnerSubclassId);
  return CallNextSubclass(hwnd, msg, wparam, lparam);
}

}  // namespace

wchar_t MenuAccessKey(std::wstring_view text) {
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != L'&') continue;
    if (text[i + 1] == L'&') {
      ++i;  // "&&" is a literal ampersand
      continue;
    }
    return wchar_t(
        reinterpret_cast<ULONG_PTR>(CharUpperW(reinterpret_cast<LPWSTR>(ULONG_PTR(text[i + 1])))));
  }
  return 0;
}

GlossMenu::GlossMenu(UniqueMenu menu) : menu_(std::move(menu)) { Convert(); }

GlossMenu GlossMenu::Load(HINSTANCE instance, int menu_id) {
  return GlossMenu(UniqueMenu(LoadMenuW(instance, MAKEINTRESOURCEW(menu_id))));
}

GlossMenu::GlossMenu(GlossMenu&& other) noexcept
    : records_(std::move(other.records_)), menu_(std::move(other.menu_)) {}

GlossMenu& GlossMenu::operator=(GlossMenu&& other) noexcept {
  if (this != &other) {
    Clear();
    records_ = std::move(other.records_);
    menu_ = std::move(other.menu_);
  }
  return *this;
}

GlossMenu::~GlossMenu() { Clear(); }

void GlossMenu::Clear() {
  menu_.reset();
  for (const auto& record : records_) LiveRecords().erase(record.get());
  records_.clear();
}

HMENU GlossMenu::SubMenu(int position) const {
  return menu_ ? GetSubMenu(menu_.get(), position) : nullptr;
}

GlossItemRecord* GlossMenu::NewRecord(std::wstring text, bool separator, ULONG_PTR app_data) {
  auto record = std::make_unique<GlossItemRecord>();
  record->text = std::move(text);
  record->separator = separator;
  record->app_data = app_data;
  GlossItemRecord* raw = record.get();
  records_.push_back(std::move(record));
  LiveRecords().insert(raw);
  return raw;
}

bool GlossMenu::AppendItem(HMENU popup, UINT flags, UINT_PTR command, std::string_view text,
                           std::string_view marks) {
  if (!menu_ || popup == nullptr) return false;
  const bool separator = (flags & MF_SEPARATOR) != 0;
  GlossItemRecord* record = NewRecord(Utf8ToWide(text), separator, 0);
  record->marks = std::string(marks);
  flags &= ~UINT(MF_STRING | MF_BITMAP);
  if (!AppendMenuW(popup, flags | MF_OWNERDRAW, command, reinterpret_cast<LPCWSTR>(record))) {
    LiveRecords().erase(record);
    records_.pop_back();
    return false;
  }
  return true;
}

void GlossMenu::Convert() {
  if (menu_) ConvertLevel(menu_.get(), true);
}

void GlossMenu::ConvertLevel(HMENU menu, bool top_level) {
  const int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    MENUITEMINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_FTYPE | MIIM_SUBMENU | MIIM_DATA | MIIM_STRING;
    if (!GetMenuItemInfoW(menu, UINT(i), TRUE, &info)) continue;
    if (info.hSubMenu != nullptr) ConvertLevel(info.hSubMenu, false);
    // The top level stays as it is: its pop-ups are what the program shows.
    if (top_level || (info.fType & MFT_OWNERDRAW) != 0) continue;
    std::wstring text;
    if (!(info.fType & MFT_SEPARATOR) && info.cch > 0) {
      text.resize(info.cch + 1);
      MENUITEMINFOW with_text{};
      with_text.cbSize = sizeof(with_text);
      with_text.fMask = MIIM_STRING;
      with_text.dwTypeData = text.data();
      with_text.cch = UINT(text.size());
      if (GetMenuItemInfoW(menu, UINT(i), TRUE, &with_text)) text.resize(with_text.cch);
      else text.clear();
    }
    GlossItemRecord* record =
        NewRecord(std::move(text), (info.fType & MFT_SEPARATOR) != 0, info.dwItemData);
    MENUITEMINFOW change{};
    change.cbSize = sizeof(change);
    change.fMask = MIIM_FTYPE | MIIM_DATA;
    change.fType = info.fType | MFT_OWNERDRAW;
    change.dwItemData = reinterpret_cast<ULONG_PTR>(record);
    SetMenuItemInfoW(menu, UINT(i), TRUE, &change);
  }
}

bool HandleGlossMenuMessage(HWND owner, UINT msg, WPARAM wparam, LPARAM lparam, LRESULT* result) {
  switch (msg) {
    case WM_MEASUREITEM: {
      auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lparam);
      if (measure == nullptr || measure->CtlType != ODT_MENU) return false;
      const GlossItemRecord* record = LiveRecord(measure->itemData);
      if (record == nullptr) return false;
      const int dpi = DpiOfWindow(owner);
      HWND measure_on = owner != nullptr ? owner : GetDesktopWindow();
      const WindowDc dc(measure_on);
      if (!dc) return false;
      const SIZE size = MeasureMenuItem(dc.get(), LookOf(*record, dpi), MenuHeight(dpi));
      measure->itemWidth = UINT(size.cx);
      measure->itemHeight = UINT(size.cy);
      *result = TRUE;
      return true;
    }
    case WM_DRAWITEM: {
      const auto* draw = reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
      if (draw == nullptr || draw->CtlType != ODT_MENU) return false;
      const GlossItemRecord* record = LiveRecord(draw->itemData);
      if (record == nullptr) return false;
      MenuItemLook look = LookOf(*record, DpiOfWindow(owner));
      look.selected = (draw->itemState & ODS_SELECTED) != 0;
      look.disabled = (draw->itemState & (ODS_GRAYED | ODS_DISABLED)) != 0;
      look.checked = (draw->itemState & ODS_CHECKED) != 0;
      look.hide_prefix = (draw->itemState & ODS_NOACCEL) != 0;
      PaintMenuItem(draw->hDC, draw->rcItem, look, FlatMenuColors());
      *result = TRUE;
      return true;
    }
    case WM_MENUCHAR:
      return AnswerMenuChar(reinterpret_cast<HMENU>(lparam), wchar_t(LOWORD(wparam)), result);
  }
  return false;
}

bool AttachGlossMenuHandler(HWND owner) {
  if (owner == nullptr) return false;
  return AddSubclass(owner, &OwnerProc, kOwnerSubclassId, 0) != FALSE;
}

}  // namespace win
