// The proxy popup menu of the floating window and the tray icon: menu 129 with
// the favorite proxies appended. UI thread only.
#pragma once

#include <windows.h>

#include <string_view>

#include "core/proxylist/proxy_list.h"
#include "win/platform/unique_handle.h"

namespace win {

// Appends one item per favorite (commands 1124 …, at most 50), checking the one
// whose host:port equals `current` ignoring case; when there is none, appends the
// hint item (string 6) with command 32771 instead.
void AppendFavoriteMenuItems(HINSTANCE instance, HMENU menu, const core::ProxyList& list,
                             std::string_view current);

// Menu 129 ready to show: "不使用ip" checked when `current` is empty, the
// favorites appended. The popup to track is GetSubMenu(result, 0).
UniqueMenu BuildProxyMenu(HINSTANCE instance, const core::ProxyList& list,
                          std::string_view current);

}  // namespace win
