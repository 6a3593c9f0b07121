#include "core/proxylist/list_profile.h"

#include <algorithm>

#include "core/base/text.h"

namespace core {
namespace {

constexpr std::string_view kFavoriteCount = "FavoriteProxy";
constexpr std::string_view kUnfavoriteCount = "UnfavoriteProxy";
// A previous save is cleared over this many indices before the list is written.
constexpr int kClearedIndices = 1000;

void LoadGroup(ProxyList& list, ProfileStore& store, std::string_view count_name,
               std::string (*value_name)(int), bool favorite) {
  int32_t count = store.ReadInt(kProxyListSection, count_name, 0);
  // Missing values are skipped. A count far beyond the stored values (a damaged
  // profile) ends after a thousand missing values in a row, so that it cannot
  // keep the start-up busy with two billion reads; a save never leaves gaps.
  int missing_in_a_row = 0;
  for (int32_t i = 0; i < count; ++i) {
    std::string text = store.ReadText(kProxyListSection, value_name(i), "");
    if (text.empty()) {
      if (++missing_in_a_row >= kClearedIndices) break;
      continue;
    }
    missing_in_a_row = 0;
    list.AddProxy(text, favorite);
  }
}

}  // namespace

std::string FavoriteValueName(int index) { return Format("FavoriteProxy_%03d", index); }
std::string UnfavoriteValueName(int index) { return Format("UnfavoriteProxy_%03d", index); }

bool SaveListSection(const ProxyList& list, ProfileStore& store) {
  HeldSection held(store, kProxyListSection);
  int32_t old_f = std::max(store.ReadInt(kProxyListSection, kFavoriteCount, 0), 0);
  int32_t old_u = std::max(store.ReadInt(kProxyListSection, kUnfavoriteCount, 0), 0);
  bool ok = true;
  int32_t f = 0;
  int32_t u = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    // The full line keeps the type and the remark (the location); the parser
    // reads it back to the same row.
    std::string text = list.RowFullLine(int64_t(i));
    if (text.empty()) continue;
    if (list.row(i).favorite) {
      ok = store.WriteText(kProxyListSection, FavoriteValueName(f++), text) && ok;
    } else {
      ok = store.WriteText(kProxyListSection, UnfavoriteValueName(u++), text) && ok;
    }
  }
  ok = store.WriteInt(kProxyListSection, kFavoriteCount, f) && ok;
  ok = store.WriteInt(kProxyListSection, kUnfavoriteCount, u) && ok;
  // What is left of the previous save: up to its counts, and at least the
  // indices an older save cleared (it may have left values past its counts).
  for (int32_t i = f; i < std::max(old_f, kClearedIndices); ++i) {
    if (!store.DeleteValue(kProxyListSection, FavoriteValueName(i))) break;
  }
  for (int32_t i = u; i < std::max(old_u, kClearedIndices); ++i) {
    if (!store.DeleteValue(kProxyListSection, UnfavoriteValueName(i))) break;
  }
  return ok;
}

void LoadSavedList(ProxyList& list, ProfileStore& store) {
  ProxyList::Batch batch(list);
  HeldSection held(store, kProxyListSection);
  LoadGroup(list, store, kFavoriteCount, FavoriteValueName, true);
  LoadGroup(list, store, kUnfavoriteCount, UnfavoriteValueName, false);
  // A list that comes back at start shows no selection.
  list.SelectAll(false);
}

void SaveWindowPosition(const WindowPosition& pos, ProfileStore& store) {
  store.WriteInt(kWindowPositionSection, "WindowPosLeft", pos.left);
  store.WriteInt(kWindowPositionSection, "WindowPosTop", pos.top);
}

WindowPosition LoadWindowPosition(ProfileStore& store) {
  WindowPosition def;
  return {store.ReadInt(kWindowPositionSection, "WindowPosLeft", def.left),
          store.ReadInt(kWindowPositionSection, "WindowPosTop", def.top)};
}

}  // namespace core
