#include "core/proxylist/favorite_menu.h"

#include "core/base/text.h"

namespace core {

std::vector<FavoriteMenuEntry> FavoriteMenuEntries(const ProxyList& list,
                                                   std::string_view current_proxy) {
  std::vector<FavoriteMenuEntry> entries;
  int command = kFirstFavoriteCommand;
  for (size_t i = 0; i < list.size() && entries.size() < size_t(kMaxFavoriteMenuEntries); ++i) {
    if (!list.row(i).favorite) continue;
    FavoriteMenuEntry entry;
    entry.command = command++;
    std::string text = list.RowHostPort(int64_t(i));
    const std::string& location = list.row(i).location;
    entry.label = location.empty() ? text : text + "(" + location + ")";
    entry.checked = EqualsIgnoreAsciiCase(list.RowProxyText(int64_t(i)), current_proxy);
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::string FavoriteMenuEntryText(const ProxyList& list, int n) {
  if (n < 0 || n >= kMaxFavoriteMenuEntries) return {};
  int seen = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    if (!list.row(i).favorite) continue;
    if (seen == n) return list.RowProxyText(int64_t(i));
    ++seen;
  }
  return {};
}

}  // namespace core
