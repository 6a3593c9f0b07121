// The profile sections of the proxy list and the floating window's position:
// "Proxy List" keeps the host:port text of every row, ticked rows under the
// favorite names and the others under the unfavorite names; "Window Position"
// keeps the window's top-left corner. UI thread only.
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

// Writes the list: first deletes the numbered values 0..999 of a previous save,
// then one value per row in list order (rows with an empty host:port text are
// skipped), then the two counts.
void SaveListSection(const ProxyList& list, ProfileStore& store);

// Adds the saved favorites (ticked), then the saved others, with AddProxy.
// Refused, duplicate and missing values are skipped silently.
void LoadSavedList(ProxyList& list, ProfileStore& store);

void SaveWindowPosition(const WindowPosition& pos, ProfileStore& store);
WindowPosition LoadWindowPosition(ProfileStore& store);

// The value name of the i-th favorite or other entry: at least three digits.
std::string FavoriteValueName(int index);
std::string UnfavoriteValueName(int index);

}  // namespace core
