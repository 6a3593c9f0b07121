// The proxy popup menu of the floating window and the tray icon: IDR_SYSTEM_MENU with
// the favorite proxies appended. UI thread only.
#pragma once

#include <windows.h>

#include <string_view>

#include "core/proxylist/proxy_list.h"
#include "win/platform/unique_handle.h"

namespace win {

// Appends one item per favorite (commands 1124 …, at most 50), checking the one
// whose host:port equals `current` ignoring case; when there is none, appends the
// hint item (IDS_MENU_HINT) with IDM_SHOW_MAIN_DIALOG instead.
void AppendFavoriteMenuItems(HINSTANCE instance, HMENU menu, const core::ProxyList& list,
                             std::string_view current);

// IDR_SYSTEM_MENU ready to show: "不使用ip" checked when `current` is empty, the
// favorites appended. The popup to track is GetSubMenu(result, 0).
UniqueMenu BuildProxyMenu(HINSTANCE instance, const core::ProxyList& list,
                          std::string_view current);

}  // namespace win
