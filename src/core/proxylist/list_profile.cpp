#include "core/proxylist/list_profile.h"

#include <algorithm>

#include "core/base/text.h"

namespace core {
namespace {

constexpr std::string_view kFavoriteCount = "FavoriteProxy";
constexpr std::string_view kUnfavoriteCount = "UnfavoriteProxy";
constexpr std::string_view kStagedFavoriteCount = "StagedFavoriteProxy";
constexpr std::string_view kStagedUnfavoriteCount = "StagedUnfavoriteProxy";
// 1 while the staged copy, not the values under the usual names, is the list.
constexpr std::string_view kStagedListFlag = "StagedList";
// A previous save is cleared over this many indices before the list is written.
constexpr int kClearedIndices = 1000;

std::string StagedFavoriteValueName(int index) { return Format("StagedFavoriteProxy_%03d", index); }
std::string StagedUnfavoriteValueName(int index) {
  return Format("StagedUnfavoriteProxy_%03d", index);
}

// One complete copy of the list in the profile: its two counts and value names.
struct ListCopy {
  std::string_view favorite_count;
  std::string_view unfavorite_count;
  std::string (*favorite_name)(int);
  std::string (*unfavorite_name)(int);
};

constexpr ListCopy kUsualCopy = {kFavoriteCount, kUnfavoriteCount, FavoriteValueName,
                                 UnfavoriteValueName};
constexpr ListCopy kStagedCopy = {kStagedFavoriteCount, kStagedUnfavoriteCount,
                                  StagedFavoriteValueName, StagedUnfavoriteValueName};

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

// Writes every row into `copy`, then its counts. Stops at the first refused
// write: the copy is then incomplete and must not be the one that loads.
bool WriteCopy(const ProxyList& list, ProfileStore& store, const ListCopy& copy, int32_t* f,
               int32_t* u) {
  *f = 0;
  *u = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    // The full line keeps the type and the remark (the location); the parser
    // reads it back to the same row.
    std::string text = list.RowFullLine(int64_t(i));
    if (text.empty()) continue;
    std::string name =
        list.row(i).favorite ? copy.favorite_name((*f)++) : copy.unfavorite_name((*u)++);
    if (!store.WriteText(kProxyListSection, name, text)) return false;
  }
  return store.WriteInt(kProxyListSection, copy.favorite_count, *f) &&
         store.WriteInt(kProxyListSection, copy.unfavorite_count, *u);
}

// Removes a run of values written from index 0 upwards, from its top down, so
// that a removal broken off leaves a run from 0 that the next one finds whole.
void DeleteRun(ProfileStore& store, std::string (*value_name)(int)) {
  int end = 0;
  while (!store.ReadText(kProxyListSection, value_name(end), "").empty()) ++end;
  for (int i = end - 1; i >= 0; --i) {
    if (!store.DeleteValue(kProxyListSection, value_name(i))) return;
  }
}

}  // namespace

std::string FavoriteValueName(int index) { return Format("FavoriteProxy_%03d", index); }
std::string UnfavoriteValueName(int index) { return Format("UnfavoriteProxy_%03d", index); }

bool SaveListSection(const ProxyList& list, ProfileStore& store) {
  HeldSection held(store, kProxyListSection);
  int32_t old_f = std::max(store.ReadInt(kProxyListSection, kFavoriteCount, 0), 0);
  int32_t old_u = std::max(store.ReadInt(kProxyListSection, kUnfavoriteCount, 0), 0);
  int32_t f = 0;
  int32_t u = 0;
  // The values under the usual names are rewritten in place only while a whole
  // staged copy is the list that loads; a save broken off at any point leaves
  // either the whole previous list or the whole new one. A previous save that
  // was broken off after its staged copy was complete left that copy as the
  // list: the usual names are then free to be written at once.
  if (store.ReadInt(kProxyListSection, kStagedListFlag, 0) != 1) {
    if (!WriteCopy(list, store, kStagedCopy, &f, &u)) return false;
    if (!store.WriteInt(kProxyListSection, kStagedListFlag, 1)) return false;
  }
  if (!WriteCopy(list, store, kUsualCopy, &f, &u)) return false;
  if (!store.DeleteValue(kProxyListSection, kStagedListFlag)) return false;

  // From here on the usual names hold the list; what follows only tidies up.
  store.DeleteValue(kProxyListSection, kStagedFavoriteCount);
  store.DeleteValue(kProxyListSection, kStagedUnfavoriteCount);
  DeleteRun(store, StagedFavoriteValueName);
  DeleteRun(store, StagedUnfavoriteValueName);
  // What is left of the previous save: up to its counts, and at least the
  // indices an older save cleared (it may have left values past its counts).
  for (int32_t i = f; i < std::max(old_f, kClearedIndices); ++i) {
    if (!store.DeleteValue(kProxyListSection, FavoriteValueName(i))) break;
  }
  for (int32_t i = u; i < std::max(old_u, kClearedIndices); ++i) {
    if (!store.DeleteValue(kProxyListSection, UnfavoriteValueName(i))) break;
  }
  return true;
}

void LoadSavedList(ProxyList& list, ProfileStore& store) {
  ProxyList::Batch batch(list);
  HeldSection held(store, kProxyListSection);
  // Profiles without the flag (every profile but one whose save was broken off)
  // keep the list under the usual names.
  const ListCopy& copy =
      store.ReadInt(kProxyListSection, kStagedListFlag, 0) == 1 ? kStagedCopy : kUsualCopy;
  LoadGroup(list, store, copy.favorite_count, copy.favorite_name, true);
  LoadGroup(list, store, copy.unfavorite_count, copy.unfavorite_name, false);
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
