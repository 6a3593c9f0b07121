// The favorite proxies as entries of the proxy popup menu: the ticked rows in
// list order, at most 50, each with its row, label and check mark (the menu's
// command ids are the window's, IDM_FAVORITE_FIRST on). Pure
// functions over the list; UI thread (like the list).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/proxylist/proxy_list.h"

namespace core {

inline constexpr int kMaxFavoriteMenuEntries = 50;

struct FavoriteMenuEntry {
  // host:port ("host:port@TYPE" when another entry has the same host:port),
  // then " [user]" for a row with a log-in, then "(location)" when the row has one.
  std::string label;
  bool checked = false;  // the row is the proxy in use
  RowId row = kNoRow;    // what choosing the entry switches to
};

// The entries for the ticked rows, in list order, at most kMaxFavoriteMenuEntries.
std::vector<FavoriteMenuEntry> FavoriteMenuEntries(const ProxyList& list, RowId in_use);

}  // namespace core
