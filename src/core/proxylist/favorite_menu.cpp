#include "core/proxylist/favorite_menu.h"

#include <map>

#include "core/base/text.h"

namespace core {

std::vector<FavoriteMenuEntry> FavoriteMenuEntries(const ProxyList& list, RowId in_use,
                                                   const PlaceFilter& places) {
  std::vector<size_t> rows;
  for (size_t i = 0; i < list.size() && rows.size() < size_t(kMaxFavoriteMenuEntries); ++i) {
    if (list.row(i).favorite) rows.push_back(i);
  }
  // A row without a type and typed rows on the same address and port are
  // separate rows; their entries name the type so that no two read the same.
  std::map<std::string, int> shown;
  for (size_t i : rows) ++shown[AsciiUpperCopy(list.RowHostPort(int64_t(i)))];

  std::vector<FavoriteMenuEntry> entries;
  for (size_t i : rows) {
    const ProxyRow& row = list.row(i);
    FavoriteMenuEntry entry;
    std::string text = list.RowHostPort(int64_t(i));
    if (shown[AsciiUpperCopy(text)] > 1 && !row.type.empty()) text.append("@").append(row.type);
    // Rows of one gateway differ by their user names (never by the password).
    if (row.login) text.append(" [").append(row.user).append("]");
    entry.label = text;
    if (!row.location.empty()) entry.label.append("(").append(row.location).append(")");
    if (!RowPasses(places, row.location)) entry.label.append(kOutsidePlacesMark);
    entry.row = list.IdAt(i);
    entry.checked = entry.row == in_use;
    entries.push_back(std::move(entry));
  }
  return entries;
}

}  // namespace core
