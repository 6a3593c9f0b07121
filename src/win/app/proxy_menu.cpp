#include "win/app/proxy_menu.h"

#include "core/proxylist/favorite_menu.h"
#include "win/platform/resources.h"
#include "win/platform/wide_text.h"
#include "win/res/resource.h"

namespace win {

void AppendFavoriteMenuItems(HINSTANCE instance, HMENU menu, const core::ProxyList& list,
                             core::RowId in_use, const core::PlaceFilter& places,
                             std::vector<core::RowId>* rows) {
  std::vector<core::FavoriteMenuEntry> entries = core::FavoriteMenuEntries(list, in_use, places);
  rows->clear();
  UINT command = IDM_FAVORITE_FIRST;
  for (const core::FavoriteMenuEntry& entry : entries) {
    rows->push_back(entry.row);
    std::wstring label = Utf8ToWide(entry.label);
    AppendMenuW(menu, MF_STRING | (entry.checked ? MF_CHECKED : MF_UNCHECKED),
                UINT_PTR(command++), label.c_str());
  }
  if (entries.empty()) {
    std::wstring hint = LoadResourceString(instance, IDS_MENU_HINT);
    AppendMenuW(menu, MF_STRING, IDM_SHOW_MAIN_DIALOG, hint.c_str());
  }
}

UniqueMenu BuildProxyMenu(HINSTANCE instance, const core::ProxyList& list,
                          const core::ProxyInUse& in_use, const core::PlaceFilter& places,
                          std::vector<core::RowId>* rows) {
  UniqueMenu menu(LoadMenuW(instance, MAKEINTRESOURCEW(IDR_SYSTEM_MENU)));
  if (!menu) return menu;
  HMENU popup = GetSubMenu(menu.get(), 0);
  if (in_use.empty()) CheckMenuItem(popup, IDM_NO_PROXY, MF_BYCOMMAND | MF_CHECKED);
  std::wstring rotate = Utf8ToWide(in_use.rotation ? in_use.text : core::kRotationText);
  AppendMenuW(popup, MF_STRING | (in_use.rotation ? MF_CHECKED : MF_UNCHECKED), IDM_ROTATE,
              rotate.c_str());
  AppendFavoriteMenuItems(instance, popup, list, in_use.row, places, rows);
  return menu;
}

}  // namespace win
