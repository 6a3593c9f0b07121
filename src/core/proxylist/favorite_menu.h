// The favorite proxies as entries of the proxy popup menu: the ticked rows in
// list order, at most 50, each with its command id, label and check mark. Pure
// functions over the list; UI thread (like the list).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/proxylist/proxy_list.h"

namespace core {

inline constexpr int kFirstFavoriteCommand = 1124;
inline constexpr int kMaxFavoriteMenuEntries = 50;
// The command range the window routes to favorites (1124 … 1174; 1174 is never used).
inline constexpr int kLastFavoriteCommand = kFirstFavoriteCommand + kMaxFavoriteMenuEntries;

struct FavoriteMenuEntry {
  int command = 0;
  // host:port ("host:port@TYPE" when another entry has the same host:port),
  // followed by "(location)" when the row has one.
  std::string label;
  bool checked = false;  // its proxy text equals the current proxy, ignoring case
};

// The entries for the ticked rows, in list order, at most kMaxFavoriteMenuEntries.
std::vector<FavoriteMenuEntry> FavoriteMenuEntries(const ProxyList& list,
                                                   std::string_view current_proxy);

// The proxy text (ProxyList::RowProxyText) of the n-th (from 0) ticked row
// among the first 50 ticked rows; empty when there is none.
std::string FavoriteMenuEntryText(const ProxyList& list, int n);

}  // namespace core
