// The profile sections of the proxy list and the floating window's position:
// "Proxy List" keeps the full line of every row (address:port@TYPE$remark, as
// the parser reads it back), ticked rows under the favorite names and the
// others under the unfavorite names; "Window Position" keeps the window's
// top-left corner. A row's user name and password are never part of its line:
// they are kept apart, sealed for the current user by a SecretCodec, as values
// "ProxyLogin_000" … ("f12 " or "u3 " naming the row, then the sealed bytes in
// base64), counted by "ProxyLogins". UI thread only.
#pragma once

#include <string>

#include "core/base/profile_store.h"
#include "core/base/secret_codec.h"
#include "core/proxylist/proxy_list.h"

namespace core {

inline constexpr std::string_view kProxyListSection = "Proxy List";
inline constexpr std::string_view kWindowPositionSection = "Window Position";

struct WindowPosition {
  int32_t left = 730;
  int32_t top = 38;
};

// Writes the list through one open section: first as a whole staged copy under
// names of its own, marked as the list to load, then over the values of the
// previous save under the usual names, after which the mark and the staged copy
// are removed, as are the usual values past the new counts. A save broken off at
// any point leaves the whole previous list or the whole new one to load.
// Returns false when a value could not be written (the list then stays in one
// of those two states). The log-ins are part of each copy, so they too are
// either all the previous ones or all the new ones. Without a codec, or when it
// cannot seal one, a row is saved without its log-in (*logins_unsaved counts them).
bool SaveListSection(const ProxyList& list, ProfileStore& store, SecretCodec* codec = nullptr,
                     int* logins_unsaved = nullptr);

// What a load could not bring back.
struct LoadedListNote {
  // Rows whose log-in could not be opened (sealed by another user, damaged) or
  // no longer fits its row: they are in the list without one.
  int logins_lost = 0;
  std::string message;  // for the user; empty when nothing was lost
};

// Adds the saved favorites (ticked), then the saved others, with AddProxy, and
// leaves no row selected; from the staged copy when a save left it marked.
// Refused, duplicate and missing values are skipped silently; values saved as
// host:port alone load as before. A row's log-in comes back through `codec`.
LoadedListNote LoadSavedList(ProxyList& list, ProfileStore& store, SecretCodec* codec = nullptr);

void SaveWindowPosition(const WindowPosition& pos, ProfileStore& store);
WindowPosition LoadWindowPosition(ProfileStore& store);

// The value name of the i-th favorite or other entry: at least three digits.
std::string FavoriteValueName(int index);
std::string UnfavoriteValueName(int index);

}  // namespace core
