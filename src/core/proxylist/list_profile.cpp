#include "core/proxylist/list_profile.h"

#include <algorithm>
#include <map>
#include <optional>
#include <utility>

#include "core/base/text.h"
#include "core/net/net_target.h"
#include "core/proxylist/proxy_line.h"

namespace core {
namespace {

constexpr std::string_view kFavoriteCount = "FavoriteProxy";
constexpr std::string_view kUnfavoriteCount = "UnfavoriteProxy";
constexpr std::string_view kStagedFavoriteCount = "StagedFavoriteProxy";
constexpr std::string_view kStagedUnfavoriteCount = "StagedUnfavoriteProxy";
constexpr std::string_view kLoginCount = "ProxyLogins";
constexpr std::string_view kStagedLoginCount = "StagedProxyLogins";
// 1 while the staged copy, not the values under the usual names, is the list.
constexpr std::string_view kStagedListFlag = "StagedList";
// A previous save is cleared over this many indices before the list is written.
constexpr int kClearedIndices = 1000;

std::string StagedFavoriteValueName(int index) { return Format("StagedFavoriteProxy_%03d", index); }
std::string StagedUnfavoriteValueName(int index) {
  return Format("StagedUnfavoriteProxy_%03d", index);
}
std::string LoginValueName(int index) { return Format("ProxyLogin_%03d", index); }
std::string StagedLoginValueName(int index) { return Format("StagedProxyLogin_%03d", index); }

}  // namespace

// One complete copy of the list in the profile: its two counts and value names.
struct ListCopy {
  std::string_view favorite_count;
  std::string_view unfavorite_count;
  std::string (*favorite_name)(int);
  std::string (*unfavorite_name)(int);
  std::string_view login_count;
  std::string (*login_name)(int);
};

constexpr ListCopy kUsualCopy = {kFavoriteCount,      kUnfavoriteCount, FavoriteValueName,
                                 UnfavoriteValueName, kLoginCount,      LoginValueName};
constexpr ListCopy kStagedCopy = {kStagedFavoriteCount,    kStagedUnfavoriteCount,
                                  StagedFavoriteValueName, StagedUnfavoriteValueName,
                                  kStagedLoginCount,       StagedLoginValueName};

namespace {

// What a row's log-in value seals: the row's host:port (so that a log-in never
// lands on another row), the user name and the password, a line each. Neither
// holds a line break.
std::string SealedLoginText(std::string_view host_port, const ProxyCredentials& login) {
  std::string text(host_port);
  text.append("\n").append(login.user).append("\n").append(login.password);
  return text;
}

// The sealed log-ins of one copy by their rows: (favorite, index in its group)
// to the base64 text. Values that name no row are left out.
using SealedLogins = std::map<std::pair<bool, int32_t>, std::string>;

SealedLogins ReadLogins(ProfileStore& store, const ListCopy& copy, int* unreadable) {
  SealedLogins logins;
  int32_t count = store.ReadInt(kProxyListSection, copy.login_count, 0);
  int missing_in_a_row = 0;
  for (int32_t i = 0; i < count; ++i) {
    std::string text = store.ReadText(kProxyListSection, copy.login_name(i), "");
    if (text.empty()) {
      if (++missing_in_a_row >= kClearedIndices) break;
      continue;
    }
    missing_in_a_row = 0;
    std::string_view rest = text;
    bool favorite = rest.front() == 'f';
    size_t blank = rest.find(' ');
    std::optional<int32_t> index;
    if ((rest.front() == 'f' || rest.front() == 'u') && blank != std::string_view::npos) {
      index = ParseWholeNumber(rest.substr(1, blank - 1));
    }
    if (!index || *index < 0) {
      ++*unreadable;
      continue;
    }
    logins[{favorite, *index}] = std::string(rest.substr(blank + 1));
  }
  return logins;
}

// The log-in sealed in `sealed` when it opens and belongs to `row`.
bool OpenLogin(std::string_view sealed, SecretCodec* codec, ProxyLine* row) {
  std::optional<std::string> bytes = Base64Decode(sealed);
  if (!bytes || !codec) return false;
  std::optional<std::string> text = codec->Unprotect(*bytes);
  if (!text) return false;
  size_t first = text->find('\n');
  size_t second = first == std::string::npos ? first : text->find('\n', first + 1);
  if (second == std::string::npos) return false;
  if (std::string_view(*text).substr(0, first) != HostPortText(row->address, row->port)) {
    return false;
  }
  ProxyLine with_login = *row;
  with_login.user = text->substr(first + 1, second - first - 1);
  with_login.password = text->substr(second + 1);
  if (!CheckProxyCredentials(with_login)) return false;
  *row = std::move(with_login);
  return true;
}

void LoadGroup(ProxyList& list, ProfileStore& store, std::string_view count_name,
               std::string (*value_name)(int), bool favorite, const SealedLogins& logins,
               SecretCodec* codec, int* lost) {
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
    ProxyLine row;
    if (!ParseProxyLine(text, &row)) continue;
    auto login = logins.find({favorite, i});
    if (login != logins.end() && !OpenLogin(login->second, codec, &row)) ++*lost;
    list.AddParsed(row, favorite);
  }
}

}  // namespace

std::string FavoriteValueName(int index) { return Format("FavoriteProxy_%03d", index); }
std::string UnfavoriteValueName(int index) { return Format("UnfavoriteProxy_%03d", index); }

ListSave::ListSave(const ProxyList& list, ProfileStore& store, SecretCodec* codec)
    : list_(list), store_(store), codec_(codec) {}

// The steps in order; each either finishes its part and moves `phase_` on, or
// stops when the budget is spent and carries on from its cursor next time.
bool ListSave::Step(int budget) {
  left_ = std::max(budget, 1);
  HeldSection held(store_, kProxyListSection);
  while (!ended() && left_ > 0) {
    switch (phase_) {
      case Phase::kStart:
        Begin();
        break;
      case Phase::kStagedRows:
        if (WriteRows(kStagedCopy)) {
          // The staged copy is the list from here on.
          if (Change(store_.WriteInt(kProxyListSection, kStagedListFlag, 1))) {
            Next(Phase::kUsualRows);
          }
        }
        break;
      case Phase::kUsualRows:
        if (WriteRows(kUsualCopy) &&
            Change(store_.DeleteValue(kProxyListSection, kStagedListFlag))) {
          // The usual names hold the list; what follows only tidies up.
          in_force_ = true;
          Next(Phase::kTidyStagedCounts);
        }
        break;
      case Phase::kTidyStagedCounts:
        Tidy(store_.DeleteValue(kProxyListSection, kStagedFavoriteCount));
        Tidy(store_.DeleteValue(kProxyListSection, kStagedUnfavoriteCount));
        Tidy(store_.DeleteValue(kProxyListSection, kStagedLoginCount));
        Next(Phase::kTidyStagedFavorites);
        break;
      case Phase::kTidyStagedFavorites:
        if (DeleteRun(StagedFavoriteValueName, 0)) Next(Phase::kTidyStagedOthers);
        break;
      case Phase::kTidyStagedOthers:
        if (DeleteRun(StagedUnfavoriteValueName, 0)) Next(Phase::kTidyStagedLogins);
        break;
      case Phase::kTidyStagedLogins:
        if (DeleteRun(StagedLoginValueName, 0)) Next(Phase::kTidyLogins);
        break;
      case Phase::kTidyLogins:
        // The previous save's log-ins past the new count: a run, since every
        // save writes them from 0 upwards and removes them from the top down.
        if (DeleteRun(LoginValueName, logins_, std::max(logins_, old_logins_))) {
          Next(Phase::kTidyFavorites);
        }
        break;
      case Phase::kTidyFavorites:
        // What is left of the previous save: up to its counts, and at least the
        // indices an older save cleared (it may have left values past its counts).
        if (DeleteRange(FavoriteValueName, f_, std::max(old_f_, kClearedIndices))) {
          Next(Phase::kTidyOthers);
        }
        break;
      case Phase::kTidyOthers:
        if (DeleteRange(UnfavoriteValueName, u_, std::max(old_u_, kClearedIndices))) {
          Next(Phase::kDone);
        }
        break;
      case Phase::kDone:
      case Phase::kFailed:
        break;
    }
  }
  return ended();
}

void ListSave::Begin() {
  old_f_ = std::max(store_.ReadInt(kProxyListSection, kFavoriteCount, 0), 0);
  old_u_ = std::max(store_.ReadInt(kProxyListSection, kUnfavoriteCount, 0), 0);
  old_logins_ = std::max(store_.ReadInt(kProxyListSection, kLoginCount, 0), 0);
  left_ -= 4;
  // The values under the usual names are rewritten in place only while a whole
  // staged copy is the list that loads; a save broken off at any point leaves
  // either the whole previous list or the whole new one. A previous save that
  // was broken off after its staged copy was complete left that copy as the
  // list: the usual names are then free to be written at once.
  bool staged_in_force = store_.ReadInt(kProxyListSection, kStagedListFlag, 0) == 1;
  Next(staged_in_force ? Phase::kUsualRows : Phase::kStagedRows);
}

void ListSave::Next(Phase phase) {
  phase_ = phase;
  row_ = 0;
  f_ = u_ = logins_ = 0;
  unsaved_ = 0;
  cursor_ = -1;
  scan_ = -1;
  if (phase >= Phase::kTidyStagedCounts) {
    f_ = done_f_;
    u_ = done_u_;
    logins_ = done_logins_;
    unsaved_ = done_unsaved_;
  }
}

bool ListSave::Change(WriteStatus written) {
  --left_;
  if (written) return true;
  status_ = std::move(written);
  phase_ = Phase::kFailed;
  return false;
}

bool ListSave::Tidy(WriteStatus written) {
  --left_;
  return written.ok();
}

// Writes the rows into `copy` from the cursor on, then its counts. Stops at the
// first refused write: the copy is then incomplete and must not be the one
// that loads.
bool ListSave::WriteRows(const ListCopy& copy) {
  for (; row_ < list_.size(); ++row_) {
    if (left_ <= 0) return false;
    // The full line keeps the type and the remark (the location); the parser
    // reads it back to the same row.
    int64_t i = int64_t(row_);
    std::string text = list_.RowFullLine(i);
    if (text.empty()) continue;
    bool favorite = list_.row(row_).favorite;
    int32_t index = favorite ? f_ : u_;
    std::string name = favorite ? copy.favorite_name(index) : copy.unfavorite_name(index);
    if (!Change(store_.WriteText(kProxyListSection, name, text))) return false;
    ++(favorite ? f_ : u_);
    std::optional<ProxyCredentials> login = list_.RowCredentials(i);
    if (!login) continue;
    std::optional<std::string> sealed;
    if (codec_) sealed = codec_->Protect(SealedLoginText(list_.RowHostPort(i), *login));
    if (!sealed) {
      ++unsaved_;
      continue;
    }
    std::string value = Format("%c%d ", favorite ? 'f' : 'u', int(index)) + Base64Encode(*sealed);
    if (!Change(store_.WriteText(kProxyListSection, copy.login_name(logins_), value))) {
      return false;
    }
    ++logins_;
  }
  // A list without log-ins leaves no count behind (nor one of an earlier save).
  bool counted = logins_ > 0 ? Change(store_.WriteInt(kProxyListSection, copy.login_count, logins_))
                             : Change(store_.DeleteValue(kProxyListSection, copy.login_count));
  if (!counted || !Change(store_.WriteInt(kProxyListSection, copy.favorite_count, f_)) ||
      !Change(store_.WriteInt(kProxyListSection, copy.unfavorite_count, u_))) {
    return false;
  }
  done_f_ = f_;
  done_u_ = u_;
  done_logins_ = logins_;
  done_unsaved_ = unsaved_;
  return true;
}

// Removes the run of values from index `from` upwards (at least up to `end`),
// from its top down, so that a removal broken off leaves a run that the next
// one finds whole. A refused removal ends the run (it is only tidying).
bool ListSave::DeleteRun(std::string (*value_name)(int), int from, int end) {
  if (cursor_ < 0) {
    // First the run's end, found by reading upwards; the reads count against
    // the budget too (a run can be as long as the list).
    if (scan_ < 0) scan_ = std::max(from, end);
    while (true) {
      if (left_ <= 0) return false;
      --left_;
      if (store_.ReadText(kProxyListSection, value_name(scan_), "").empty()) break;
      ++scan_;
    }
    cursor_ = scan_;
  }
  while (cursor_ > from) {
    if (left_ <= 0) return false;
    if (!Tidy(store_.DeleteValue(kProxyListSection, value_name(cursor_ - 1)))) return true;
    --cursor_;
  }
  return true;
}

// Removes the values [from, end). A refused removal ends it (it is only tidying).
bool ListSave::DeleteRange(std::string (*value_name)(int), int from, int end) {
  if (cursor_ < 0) cursor_ = from;
  while (cursor_ < end) {
    if (left_ <= 0) return false;
    if (!Tidy(store_.DeleteValue(kProxyListSection, value_name(cursor_)))) return true;
    ++cursor_;
  }
  return true;
}

WriteStatus SaveListSection(const ProxyList& list, ProfileStore& store, SecretCodec* codec,
                            int* logins_unsaved) {
  ListSave save(list, store, codec);
  while (!save.Step(1 << 20)) {
  }
  if (logins_unsaved) *logins_unsaved = save.in_force() ? save.logins_unsaved() : 0;
  return save.status();
}

LoadedListNote LoadSavedList(ProxyList& list, ProfileStore& store, SecretCodec* codec) {
  ProxyList::Batch batch(list);
  HeldSection held(store, kProxyListSection);
  // Profiles without the flag (every profile but one whose save was broken off)
  // keep the list under the usual names.
  const ListCopy& copy =
      store.ReadInt(kProxyListSection, kStagedListFlag, 0) == 1 ? kStagedCopy : kUsualCopy;
  LoadedListNote note;
  SealedLogins logins = ReadLogins(store, copy, &note.logins_lost);
  LoadGroup(list, store, copy.favorite_count, copy.favorite_name, true, logins, codec,
            &note.logins_lost);
  LoadGroup(list, store, copy.unfavorite_count, copy.unfavorite_name, false, logins, codec,
            &note.logins_lost);
  // A list that comes back at start shows no selection.
  list.SelectAll(false);
  if (note.logins_lost > 0) {
    note.message = Format(
        "%d个代理保存的用户名和密码无法读取（由其他Windows用户保存，或已损坏）。"
        "这些代理仍在列表中，但不再带用户名和密码，请重新导入。",
        note.logins_lost);
  }
  return note;
}

WriteStatus SaveWindowPosition(const WindowPosition& pos, ProfileStore& store) {
  WriteStatus left = store.WriteInt(kWindowPositionSection, "WindowPosLeft", pos.left);
  if (!left) return left;
  return store.WriteInt(kWindowPositionSection, "WindowPosTop", pos.top);
}

WindowPosition LoadWindowPosition(ProfileStore& store) {
  WindowPosition def;
  return {store.ReadInt(kWindowPositionSection, "WindowPosLeft", def.left),
          store.ReadInt(kWindowPositionSection, "WindowPosTop", def.top)};
}

}  // namespace core
