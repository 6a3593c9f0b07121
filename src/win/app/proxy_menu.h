// The proxy popup menu of the floating window and the tray icon: IDR_SYSTEM_MENU with
// the favorite proxies appended. UI thread only.
#pragma once

#include <windows.h>

#include <vector>

#include "core/proxylist/place_filter.h"
#include "core/proxylist/proxy_list.h"
#include "core/sysproxy/proxy_in_use.h"
#include "win/platform/unique_handle.h"

namespace win {

// Appends one item per favorite (commands 1124 …, at most 50), checking the
// row in use and marking the rows outside `places`; when there is none,
// appends the hint item (IDS_MENU_HINT) with IDM_SHOW_MAIN_DIALOG instead.
// `rows` receives the items' rows in order.
void AppendFavoriteMenuItems(HINSTANCE instance, HMENU menu, const core::ProxyList& list,
                             core::RowId in_use, const core::PlaceFilter& places,
                             std::vector<core::RowId>* rows);

// IDR_SYSTEM_MENU ready to show: "不使用ip" checked when no proxy is in use,
// "每个连接换一个IP" after it (checked, with its row count, while in use), the
// favorites appended. The popup to track is GetSubMenu(result, 0).
UniqueMenu BuildProxyMenu(HINSTANCE instance, const core::ProxyList& list,
                          const core::ProxyInUse& in_use, const core::PlaceFilter& places,
                          std::vector<core::RowId>* rows);

}  // namespace win
