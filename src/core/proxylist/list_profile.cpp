#include "core/proxylist/list_profile.h"

#include <algorithm>
#include <map>
#include <optional>
#include <unordered_map>
#include <unordered_set>
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
// The journal: the changes since a whole copy was written, one value each, as
// "Journal_<n>" for n from the copy's first ("JournalFirst", "StagedJournalFirst":
// written with the copy, so that the copy that loads names the entries that
// follow it) up to the end ("JournalEnd", written after the entries).
constexpr std::string_view kJournalEnd = "JournalEnd";
constexpr std::string_view kJournalFirst = "JournalFirst";
constexpr std::string_view kStagedJournalFirst = "StagedJournalFirst";
// A journal longer than this (a damaged profile) is read from its last entries.
constexpr int32_t kMaxJournalRead = 1 << 20;
// A previous save is cleared over this many indices before the list is written.
constexpr int kClearedIndices = 1000;

std::string StagedFavoriteValueName(int index) { return Format("StagedFavoriteProxy_%03d", index); }
std::string StagedUnfavoriteValueName(int index) {
  return Format("StagedUnfavoriteProxy_%03d", index);
}
std::string LoginValueName(int index) { return Format("ProxyLogin_%03d", index); }
std::string StagedLoginValueName(int index) { return Format("StagedProxyLogin_%03d", index); }
std::string JournalValueName(int index) { return Format("Journal_%03d", index); }

}  // namespace

// One complete copy of the list in the profile: its two counts and value names.
struct ListCopy {
  std::string_view favorite_count;
  std::string_view unfavorite_count;
  std::string (*favorite_name)(int);
  std::string (*unfavorite_name)(int);
  std::string_view login_count;
  std::string (*login_name)(int);
  std::string_view journal_first;
};

constexpr ListCopy kUsualCopy = {kFavoriteCount,      kUnfavoriteCount, FavoriteValueName,
                                 UnfavoriteValueName, kLoginCount,      LoginValueName,
                                 kJournalFirst};
constexpr ListCopy kStagedCopy = {kStagedFavoriteCount,    kStagedUnfavoriteCount,
                                  StagedFavoriteValueName, StagedUnfavoriteValueName,
                                  kStagedLoginCount,       StagedLoginValueName,
                                  kStagedJournalFirst};

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

// `text` split at blanks into at most `most` words, the last taking the rest.
std::vector<std::string_view> SplitWords(std::string_view text, size_t most) {
  std::vector<std::string_view> words;
  while (!text.empty() && words.size() + 1 < most) {
    size_t blank = text.find(' ');
    if (blank == std::string_view::npos) break;
    words.push_back(text.substr(0, blank));
    text.remove_prefix(blank + 1);
  }
  if (!text.empty()) words.push_back(text);
  return words;
}

// The list's row of `key`, from a table built on first use and again after rows
// went; rows added since are entered as they come.
class RowsByKey {
 public:
  explicit RowsByKey(ProxyList& list) : list_(list) {}
  size_t Find(const std::string& key) {
    if (stale_) {
      rows_.clear();
      for (size_t i = 0; i < list_.size(); ++i) rows_[list_.RowJournalKey(i)] = i;
      stale_ = false;
    }
    auto it = rows_.find(key);
    return it == rows_.end() ? SIZE_MAX : it->second;
  }
  void Added(size_t index) {
    if (!stale_) rows_[list_.RowJournalKey(index)] = index;
  }
  void Rekeyed(const std::string& before, size_t index) {
    if (stale_) return;
    rows_.erase(before);
    rows_[list_.RowJournalKey(index)] = index;
  }
  void Reset() { stale_ = true; }

 private:
  ProxyList& list_;
  std::unordered_map<std::string, size_t> rows_;
  bool stale_ = true;
};

// Replays the journal entries that follow the copy just loaded, in order. Each
// entry holds the whole saved state of its row, so that an entry the copy
// already holds changes nothing when replayed.
void ApplyJournal(ProxyList& list, ProfileStore& store, const ListCopy& copy, SecretCodec* codec,
                  int* lost) {
  int32_t end = store.ReadInt(kProxyListSection, kJournalEnd, 0);
  int32_t first = std::max(store.ReadInt(kProxyListSection, copy.journal_first, 0), 0);
  if (end <= first) return;
  first = std::max(first, end - kMaxJournalRead);
  RowsByKey rows(list);
  // Removals in a row (one delete of several rows) go in one pass.
  std::unordered_set<std::string> removing;
  auto remove_pending = [&] {
    if (removing.empty()) return;
    list.RemoveRowsIf(
        [&](const ProxyRow& r) { return removing.count(ProxyList::JournalKeyOf(r)) > 0; });
    removing.clear();
    rows.Reset();
  };
  for (int32_t n = first; n < end; ++n) {
    std::string text = store.ReadText(kProxyListSection, JournalValueName(n), "");
    // "A f|u <sealed log-in|-> <line>", "S <key> f|u r|- <type|->", "R <key>".
    char op = text.size() > 1 && text[1] == ' ' ? text[0] : 0;
    std::vector<std::string_view> words = SplitWords(text, op == 'A' ? 4 : op == 'S' ? 5 : 2);
    if (words.size() == 2 && words[0] == "R") {
      removing.insert(std::string(words[1]));
      continue;
    }
    remove_pending();
    if (words.size() == 4 && words[0] == "A" && (words[1] == "f" || words[1] == "u")) {
      ProxyLine row;
      if (!ParseProxyLine(words[3], &row)) continue;
      if (words[2] != "-" && !OpenLogin(words[2], codec, &row)) ++*lost;
      size_t before = list.size();
      if (list.AddParsed(row, words[1] == "f") == AddResult::kAdded) rows.Added(before);
    } else if (words.size() == 5 && words[0] == "S") {
      std::string key(words[1]);
      size_t i = rows.Find(key);
      if (i == SIZE_MAX) continue;
      list.SetRowType(i, words[4] == "-" ? "" : words[4]);
      list.SetReserved(i, words[3] == "r");
      list.SetChecked(i, words[2] == "f");
      rows.Rekeyed(key, i);
    }
  }
  remove_pending();
}

}  // namespace

WriteStatus AppendToListJournal(std::span<const SavedRowChange> changes, ProfileStore& store,
                                SecretCodec* codec, int* logins_unsaved) {
  if (changes.empty()) return {};
  HeldSection held(store, kProxyListSection);
  int32_t end = std::max(store.ReadInt(kProxyListSection, kJournalEnd, 0), 0);
  for (const SavedRowChange& c : changes) {
    std::string text;
    switch (c.kind) {
      case SavedRowChange::Kind::kAdded: {
        std::string sealed = "-";
        ProxyLine row;
        if (c.login && ParseProxyLine(c.line, &row)) {
          std::optional<std::string> bytes;
          if (codec)
            bytes = codec->Protect(SealedLoginText(HostPortText(row.address, row.port), *c.login));
          if (bytes) {
            sealed = Base64Encode(*bytes);
          } else if (logins_unsaved) {
            ++*logins_unsaved;
          }
        }
        text = Format("A %c ", c.favorite ? 'f' : 'u') + sealed + " " + c.line;
        break;
      }
      case SavedRowChange::Kind::kState:
        text = "S " + c.key + (c.favorite ? " f" : " u") + (c.reserved ? " r " : " - ") +
               (c.line.empty() ? "-" : c.line);
        break;
      case SavedRowChange::Kind::kRemoved:
        text = "R " + c.key;
        break;
    }
    WriteStatus written = store.WriteText(kProxyListSection, JournalValueName(end), text);
    if (!written) return written;
    ++end;
  }
  return store.WriteInt(kProxyListSection, kJournalEnd, end);
}

int32_t ListJournalLength(ProfileStore& store) {
  HeldSection held(store, kProxyListSection);
  const ListCopy& copy =
      store.ReadInt(kProxyListSection, kStagedListFlag, 0) == 1 ? kStagedCopy : kUsualCopy;
  int32_t end = store.ReadInt(kProxyListSection, kJournalEnd, 0);
  int32_t first = store.ReadInt(kProxyListSection, copy.journal_first, 0);
  return std::max(end - std::max(first, 0), 0);
}

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
        Tidy(store_.DeleteValue(kProxyListSection, kStagedJournalFirst));
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
          Next(Phase::kTidyJournal);
        }
        break;
      case Phase::kTidyJournal:
        // The journal's entries the new copy holds already.
        if (DeleteRange(JournalValueName, old_journal_first_, journal_first_)) Next(Phase::kDone);
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
  // The journal's entries so far are in the list being written: its copy
  // starts the journal after them.
  journal_first_ = std::max(store_.ReadInt(kProxyListSection, kJournalEnd, 0), 0);
  old_journal_first_ =
      std::clamp(store_.ReadInt(kProxyListSection, kJournalFirst, 0), 0, journal_first_);
  left_ -= 6;
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
  if (!counted || !Change(store_.WriteInt(kProxyListSection, copy.journal_first, journal_first_)) ||
      !Change(store_.WriteInt(kProxyListSection, copy.favorite_count, f_)) ||
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
  ApplyJournal(list, store, copy, codec, &note.logins_lost);
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
