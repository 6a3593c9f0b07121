// The profile sections of the proxy list and the floating window's position:
// "Proxy List" keeps the full line of every row (address:port@TYPE$remark, as
// the parser reads it back), ticked rows under the favorite names and the
// others under the unfavorite names; "Window Position" keeps the window's
// top-left corner. A row's user name and password are never part of its line:
// they are kept apart, sealed for the current user by a SecretCodec, as values
// "ProxyLogin_000" … ("f12 " or "u3 " naming the row, then the sealed bytes in
// base64), counted by "ProxyLogins". UI thread only.
#pragma once

#include <span>
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

struct ListCopy;

// A save of the list that goes on in steps, so that a long list is written
// without holding the caller up: first as a whole staged copy under names of
// its own, marked as the list to load, then over the values of the previous
// save under the usual names, after which the mark and the staged copy are
// removed, as are the usual values past the new counts. A save broken off at
// any point (a kill, a refused write, a save that is dropped for a newer one)
// leaves the whole previous list or the whole new one to load, and the next
// save starts from either. The log-ins are part of each copy, so they too are
// either all the previous ones or all the new ones. Without a codec, or when
// it cannot seal one, a row is saved without its log-in. `list` (usually a
// ProxyList::Snapshot), `store` and `codec` must outlive the save. UI thread.
class ListSave {
 public:
  ListSave(const ProxyList& list, ProfileStore& store, SecretCodec* codec = nullptr);
  ListSave(const ListSave&) = delete;
  ListSave& operator=(const ListSave&) = delete;

  // Goes on for about `budget` calls to the store (reads and writes; each
  // step does at least one). Returns true once the save has ended, done or failed.
  bool Step(int budget);
  bool ended() const { return phase_ == Phase::kDone || phase_ == Phase::kFailed; }
  // The new list is the one that loads (tidying may still be under way).
  bool in_force() const { return in_force_; }
  // The first refused write (the save then ended there); ok otherwise.
  const WriteStatus& status() const { return status_; }
  // Rows saved without their log-in (no codec, or it could not seal one).
  int logins_unsaved() const { return done_unsaved_; }

 private:
  enum class Phase {
    kStart,
    kStagedRows,
    kUsualRows,
    kTidyStagedCounts,
    kTidyStagedFavorites,
    kTidyStagedOthers,
    kTidyStagedLogins,
    kTidyLogins,
    kTidyFavorites,
    kTidyOthers,
    kTidyJournal,
    kDone,
    kFailed,
  };
  void Begin();
  void Next(Phase phase);
  // Counts one call; a refused write ends the save with its status.
  bool Change(WriteStatus written);
  bool Tidy(WriteStatus written);
  bool WriteRows(const ListCopy& copy);
  bool DeleteRun(std::string (*value_name)(int), int from, int end = 0);
  bool DeleteRange(std::string (*value_name)(int), int from, int end);

  const ProxyList& list_;
  ProfileStore& store_;
  SecretCodec* codec_;
  Phase phase_ = Phase::kStart;
  WriteStatus status_;
  bool in_force_ = false;
  int left_ = 0;
  int32_t old_f_ = 0, old_u_ = 0, old_logins_ = 0;
  // The copy being written: the next row, and the values written so far.
  size_t row_ = 0;
  int32_t f_ = 0, u_ = 0, logins_ = 0;
  int unsaved_ = 0;
  // The counts of the last copy written whole.
  int32_t done_f_ = 0, done_u_ = 0, done_logins_ = 0;
  int done_unsaved_ = 0;
  // The journal entries this copy holds (up to journal_first_), and where the
  // copy in force before it started the journal.
  int32_t journal_first_ = 0, old_journal_first_ = 0;
  // The next value of a tidy-up phase; -1 before it begins.
  int cursor_ = -1;
  // Where a run's end is being looked for; -1 before the search begins.
  int scan_ = -1;
};

// The whole save at once (a ListSave stepped to its end). Fails with the first
// refused write (the list then stays in one of the two states above).
// *logins_unsaved counts the rows saved without their log-in.
WriteStatus SaveListSection(const ProxyList& list, ProfileStore& store,
                            SecretCodec* codec = nullptr, int* logins_unsaved = nullptr);

// Writes `changes` (ProxyList::TakeSavedChanges) after the saved list, one
// value each, then moves the journal's end past them: a write broken off leaves
// the entries before it. The list loads as the last whole copy with the journal
// replayed over it; each whole save starts the journal afresh. Log-ins are
// sealed as the whole save seals them; *logins_unsaved counts those that could
// not be.
WriteStatus AppendToListJournal(std::span<const SavedRowChange> changes, ProfileStore& store,
                                SecretCodec* codec = nullptr, int* logins_unsaved = nullptr);
// The journal entries that follow the copy that loads.
int32_t ListJournalLength(ProfileStore& store);

// What a load could not bring back.
struct LoadedListNote {
  // Rows whose log-in could not be opened (sealed by another user, damaged) or
  // no longer fits its row: they are in the list without one.
  int logins_lost = 0;
  std::string message;  // for the user; empty when nothing was lost
};

// Adds the saved favorites (ticked), then the saved others, with AddProxy, and
// leaves no row selected; from the staged copy when a save left it marked,
// then the journal's changes over it.
// Refused, duplicate and missing values are skipped silently; values saved as
// host:port alone load as before. A row's log-in comes back through `codec`.
LoadedListNote LoadSavedList(ProxyList& list, ProfileStore& store, SecretCodec* codec = nullptr);

WriteStatus SaveWindowPosition(const WindowPosition& pos, ProfileStore& store);
WindowPosition LoadWindowPosition(ProfileStore& store);

// The value name of the i-th favorite or other entry: at least three digits.
std::string FavoriteValueName(int index);
std::string UnfavoriteValueName(int index);

}  // namespace core
