#include "win/app/proxy_menu.h"

#include "core/proxylist/favorite_menu.h"
#include "win/platform/resources.h"
#include "win/platform/wide_text.h"
#include "win/res/resource.h"

namespace win {

void AppendFavoriteMenuItems(HINSTANCE instance, HMENU menu, const core::ProxyList& list,
                             std::string_view current) {
  std::vector<core::FavoriteMenuEntry> entries = core::FavoriteMenuEntries(list, current);
  for (const core::FavoriteMenuEntry& entry : entries) {
    std::wstring label = Utf8ToWide(entry.label);
    AppendMenuW(menu, MF_STRING | (entry.checked ? MF_CHECKED : MF_UNCHECKED),
                UINT_PTR(entry.command), label.c_str());
  }
  if (entries.empty()) {
    std::wstring hint = LoadResourceString(instance, IDS_MENU_HINT);
    AppendMenuW(menu, MF_STRING, IDM_SHOW_MAIN_DIALOG, hint.c_str());
  }
}

UniqueMenu BuildProxyMenu(HINSTANCE instance, const core::ProxyList& list,
                          std::string_view current) {
  UniqueMenu menu(LoadMenuW(instance, MAKEINTRESOURCEW(IDR_SYSTEM_MENU)));
  if (!menu) return menu;
  HMENU popup = GetSubMenu(menu.get(), 0);
  if (current.empty()) CheckMenuItem(popup, IDM_NO_PROXY, MF_BYCOMMAND | MF_CHECKED);
  AppendFavoriteMenuItems(instance, popup, list, current);
  return menu;
}

}  // namespace win
