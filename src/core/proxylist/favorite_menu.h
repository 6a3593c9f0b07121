// The favorite proxies as entries of the proxy popup menu: the ticked rows in
// list order, at most 50, each with its row, label and check mark (the menu's
// command ids are the window's, IDM_FAVORITE_FIRST on). Pure
// functions over the list; UI thread (like the list).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/proxylist/place_filter.h"
#include "core/proxylist/proxy_list.h"

namespace core {

inline constexpr int kMaxFavoriteMenuEntries = 50;
// Ends the label of a row the place filter leaves out: switching and failover
// pass it over, but the user may still choose it here.
inline constexpr std::string_view kOutsidePlacesMark = "（不在所选地区）";

struct FavoriteMenuEntry {
  // host:port ("host:port@TYPE" when another entry has the same host:port),
  // then " [user]" for a row with a log-in, then "(location)" when the row has
  // one, then kOutsidePlacesMark when the row does not pass the place filter.
  std::string label;
  bool checked = false;  // the row is the proxy in use
  RowId row = kNoRow;    // what choosing the entry switches to
};

// The entries for the ticked rows, in list order, at most kMaxFavoriteMenuEntries.
std::vector<FavoriteMenuEntry> FavoriteMenuEntries(const ProxyList& list, RowId in_use,
                                                   const PlaceFilter& places = {});

}  // namespace core
