// The profile sections of the proxy list and the floating window's position:
// "Proxy List" keeps the full line of every row (address:port@TYPE$remark, as
// the parser reads it back), ticked rows under the favorite names and the
// others under the unfavorite names; "Window Position" keeps the window's
// top-left corner. UI thread only.
#pragma once

#include "core/base/profile_store.h"
#include "core/proxylist/proxy_list.h"

namespace core {

inline constexpr std::string_view kProxyListSection = "Proxy List";
inline constexpr std::string_view kWindowPositionSection = "Window Position";

struct WindowPosition {
  int32_t left = 730;
  int32_t top = 38;
};

// Writes the list through one open section: one value per row in list order
// over the values of a previous save, then the two counts, then deletes what
// is left of the previous save. A save broken off at any point leaves a
// loadable list: the previous one with its first values replaced, or the new
// one. Returns false when a value could not be written.
bool SaveListSection(const ProxyList& list, ProfileStore& store);

// Adds the saved favorites (ticked), then the saved others, with AddProxy, and
// leaves no row selected. Refused, duplicate and missing values are skipped
// silently; values saved as host:port alone load as before.
void LoadSavedList(ProxyList& list, ProfileStore& store);

void SaveWindowPosition(const WindowPosition& pos, ProfileStore& store);
WindowPosition LoadWindowPosition(ProfileStore& store);

// The value name of the i-th favorite or other entry: at least three digits.
std::string FavoriteValueName(int index);
std::string UnfavoriteValueName(int index);

}  // namespace core
