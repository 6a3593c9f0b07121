// The proxy list: the one store of every proxy the program knows, as rows in
// list order, with the set of duplicate keys, the favorite count, the reserved
// mark and the selection. Rows are stored compactly (about 80 bytes each for a
// plain address and port): address and port in one text buffer, the shared texts
// once each. The main dialog's list view is a view of this model and learns
// about changes through ProxyListObserver. UI thread only.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/net/upstream.h"
#include "core/proxylist/list_sort.h"
#include "core/proxylist/row_selection.h"
#include "core/proxylist/shared_texts.h"

namespace core {

struct ProxyLine;

// Texts the list writes into its rows and caption.
inline constexpr std::string_view kReservedMark = "<保留ip>";
inline constexpr std::string_view kStatusNotVerified = "未验证";
inline constexpr std::string_view kStatusExpired = "X;已过期;";
inline constexpr std::string_view kListCaptionTitle = "proxy服务器列表";

// The most rows the list holds. A list file of public proxies can run to
// millions of lines; beyond this the memory and every sort and redraw would
// cost more than the rows are worth. Lines past it are refused and counted.
inline constexpr size_t kMaxListRows = 1'000'000;

// Columns of the list, in display order.
enum ListColumn : int {
  kColAddress = 0,
  kColPort = 1,
  kColType = 2,
  kColStatus = 3,  // sorts by score
  kColLocation = 4,
  kColResult = 5,
  kColumnCount = 6,
};

// Where a proxy line comes from. Only the user's own lines may make a row
// reserved; a reserved row scores above every other and is never deleted, so a
// line from outside must not be able to claim it.
enum class LineOrigin {
  kUser,     // typed, from the program's menus, a list file the user imports, the saved list
  kOutside,  // downloaded, dropped, found in a page's text: a reserved mark is dropped
};

// What adding one proxy line did.
enum class AddResult {
  kAdded,
  kDuplicate,  // its duplicate key is already in the list
  kRefused,    // the line does not parse
  kListFull,   // a new row, but the list already holds kMaxListRows
};

// A row's identity: it stays the row's through sorts, the removal of other
// rows and changes of its texts, tick and type, and never names another row,
// also after its own row is gone. kNoRow names none.
enum class RowId : uint64_t {};
inline constexpr RowId kNoRow{};

// One row as the views read it. The texts point into the list: they stay valid
// until the list next adds, removes or reorders rows, or changes this row.
struct ProxyRow {
  std::string_view address;
  std::string_view port;
  std::string_view type;        // the real type, as the parser gave it
  std::string_view type_shown;  // the type column: the type, marked when the row has a log-in
  std::string_view user;        // the log-in's user name; empty for a row without one
  bool login = false;           // the row carries a user name and password
  std::string_view status;
  std::string_view location;  // with the reserved mark in front for reserved rows
  std::string_view result;
  int32_t score = -1;  // -1 never verified, 0 unusable, >= 1 usable (higher is better)
  bool favorite = false;  // the row's check box
  bool selected = false;  // from the list's selection
  // The provider said the row's proxy has expired: nothing may use it.
  bool expired = false;
  uint8_t source = 0;  // the link the row came from (ProxyList::SourceUrl); 0: none

  std::string_view Column(int column) const;
  // The text the list view shows in a column: Column, except that a row with
  // a log-in shows "user@address" in the address column, so that the rows of
  // one gateway are told apart (never the password).
  std::string ShownColumn(int column) const;
};

// Counters of a verification run, shown in the caption while workers are active.
struct RunCounters {
  int done = 0;
  int usable = 0;
  int remaining = 0;
};

// A change to what the profile keeps of one row, as the list records it for a
// save that writes only what changed. A row is named by its journal key
// (ProxyList::RowJournalKey) as it was before the change.
struct SavedRowChange {
  enum class Kind : uint8_t { kAdded, kState, kRemoved };
  Kind kind = Kind::kAdded;
  std::string key;                        // kState, kRemoved
  std::string line;                       // kAdded: the row's full line; kState: its type name
  std::optional<ProxyCredentials> login;  // kAdded
  bool favorite = false;                  // kAdded, kState
  bool reserved = false;                  // kState
};

// The changes recorded since they were last taken. Past kMaxSavedChanges (an
// import, a delete of many rows) the list stops recording them one by one and
// says `overflow`: only a whole save keeps such a change.
struct SavedChanges {
  std::vector<SavedRowChange> rows;
  bool reordered = false;  // rows changed places (a sort): only a whole save keeps the order
  bool overflow = false;
};
inline constexpr size_t kMaxSavedChanges = 4096;

class ProxyListObserver {
 public:
  virtual ~ProxyListObserver() = default;
  // Rows [first, first + count) were appended at the end.
  virtual void OnRowsAppended(size_t first, size_t count) = 0;
  // The texts or state of one row changed.
  virtual void OnRowChanged(size_t row) = 0;
  // Rows were removed or reordered: everything is to be shown again.
  virtual void OnRowsReset() = 0;
  // The favorite count changed (the caption shows it).
  virtual void OnFavoritesChanged() = 0;
  // The selection changed (rows appended selected, removed or reordered say so
  // through the calls above).
  virtual void OnSelectionChanged() {}
};

class ProxyList {
 public:
  // Gives the location text of an address ("country area"), or "" when unknown.
  using Locator = std::function<std::string(std::string_view address)>;

  ProxyList();
  ProxyList(const ProxyList&) = delete;
  ProxyList& operator=(const ProxyList&) = delete;

  // Told true when the outermost Batch opens and false when it closes, so that
  // a locator can take its database file as unchanged for the many lookups of
  // an import instead of looking at the disk for each.
  using BatchHook = std::function<void(bool open)>;

  void SetLocator(Locator locator, BatchHook batch_hook = nullptr) {
    locator_ = std::move(locator);
    locator_batch_ = std::move(batch_hook);
  }
  void SetObserver(ProxyListObserver* observer) { observer_ = observer; }

  // Parses `line` and appends it as a selected, unverified row (ticked when
  // `favorite`). The remark, when given, is the location; otherwise the locator
  // fills it. A line from outside loses a reserved mark at the start of its
  // remark (the row itself is added). A line that parses and is no duplicate is
  // refused with kListFull once the list holds kMaxListRows.
  AddResult AddProxy(std::string_view line, bool favorite, LineOrigin origin = LineOrigin::kUser);
  // The same for a line already parsed (a saved row whose log-in is kept apart).
  AddResult AddParsed(const ProxyLine& parsed, bool favorite,
                      LineOrigin origin = LineOrigin::kUser);
  // Where the row with the parsed line's duplicate key is; nullopt when none is.
  std::optional<size_t> IndexOfParsed(const ProxyLine& parsed) const;

  // Moves every row of `staged` (a list of its own, filled by an import on
  // another thread) to the end of this one, in order, as AddProxy would have
  // added them: a row whose duplicate key is here already is left out, and so
  // is every row beyond kMaxListRows. Rows keep their texts and ticks;
  // `staged` is left empty. Observers hear one append.
  struct TakeCounts {
    int added = 0;
    int duplicates = 0;
    int full = 0;
  };
  TakeCounts TakeRows(ProxyList& staged);

  // A copy of the rows as they are now, for a save that goes on over several
  // steps while this list changes. It is read only through size(), row(),
  // favorite_count(), the Row… text forms and the versions; it costs a copy of
  // the rows' storage (about 60 bytes a row), no parsing and no key table.
  std::unique_ptr<const ProxyList> Snapshot() const;

  // Counts every change to what the profile keeps of the list (rows added,
  // removed or reordered, ticks, types, remarks and reserved marks, log-ins);
  // selections and verification results do not count.
  uint64_t saved_version() const { return saved_version_; }
  // The changes to what the profile keeps since the last call, in order.
  SavedChanges TakeSavedChanges() { return std::exchange(changes_, {}); }
  // A row's name in the saved list's journal: its duplicate key as text (the
  // address in lower case, the port, the kind of type, and for a row with a
  // log-in a hash of its user name, never the name itself).
  std::string RowJournalKey(size_t index) const;
  static std::string JournalKeyOf(const ProxyRow& row);

  // Counts every change to a row's verification status, result or score.
  uint64_t result_version() const { return result_version_; }

  // The id of the row at `index`; kNoRow outside the list.
  RowId IdAt(size_t index) const;
  // Where row `id` is now; nullopt for kNoRow and for a row removed since.
  std::optional<size_t> IndexOf(RowId id) const;

  size_t size() const { return rows_.size(); }
  bool empty() const { return rows_.empty(); }
  ProxyRow row(size_t index) const;
  // A row's score alone, for walks of the whole list that look at nothing else.
  int32_t RowScore(size_t index) const { return rows_[index].score; }
  int favorite_count() const { return favorite_count_; }
  size_t selected_count() const { return selection_.count(); }
  // The selected rows as ranges, for walking them without visiting the others.
  const RowSelection& selection() const { return selection_; }

  // Text forms of a row; empty for an index outside the list.
  std::string RowHostPort(int64_t index) const;
  // The proxy text that makes the row the system proxy: host:port@TYPE for a
  // SOCKS, SOCKS4 or SOCKS5 row (the browser must speak SOCKS to it),
  // host:port for every other row (all protocols through it). A row with a
  // log-in gives LoginProxyText, which tells the rows of one gateway apart and
  // always has the local relay stand in (the setting cannot carry a log-in).
  std::string RowProxyText(int64_t index) const;
  // address:port@TYPE$location, never with the row's log-in.
  std::string RowFullLine(int64_t index) const;
  // The full line of an export: RowFullLine, or for a row with a log-in
  // "scheme://user@address:port$location" (LoginProxyText), which names the
  // user but never the password.
  std::string RowExportLine(int64_t index) const;
  // The row with its log-in, as a list file "with passwords" holds it
  // (CredentialLineText); the full line for a row without one.
  std::string RowLineWithLogin(int64_t index) const;
  std::string RowLocation(int64_t index) const;
  // The row's user name and password; nullopt for a row without them.
  std::optional<ProxyCredentials> RowCredentials(int64_t index) const;
  // The proxy a connection through the row goes to; nullopt for an FTP or GOPHER
  // row and for an address that is no host name or address literal.
  std::optional<UpstreamProxy> RowUpstream(int64_t index) const;

  // Selection. Each call is one change of the ranges, told once to the
  // observer (OnSelectionChanged); indexes outside the list are ignored.
  void SetSelected(size_t index, bool on);
  void SelectAll(bool on);
  void ToggleSelected(size_t index);
  // Selects the rows from `from` to `to`, both included, in either order (cut
  // at the list's end); `add` keeps the rows selected before, otherwise only
  // these stay selected.
  void SelectRange(size_t from, size_t to, bool add);

  // The check box. Ticking counts a favorite; unticking a reserved row is
  // refused (it stays ticked and the count does not change).
  void SetChecked(size_t index, bool on);

  // Adds or removes the reserved mark; adding it also ticks the row.
  void SetReserved(size_t index, bool on);
  bool IsReserved(size_t index) const;

  // The classify commands of the list's context menu, on the selected rows.
  void MakeSelectedReserved();
  void MakeSelectedFavorite();  // mark removed, ticked
  void MakeSelectedGeneral();    // mark removed, unticked

  // Writes a row's verification outcome: the status and result texts and the score.
  void SetVerifyResult(size_t index, std::string status, std::string result, int32_t score);

  // Writes only the status text of a row ("验证中...", "未验证" …).
  void SetStatusText(size_t index, std::string status);

  // Gives a row another type (one of the type words a line may carry, "" for
  // none); its duplicate key follows. Refused, changing nothing, for an index
  // outside the list, a word that is no type, or when another row already holds
  // the row's new key.
  bool SetRowType(size_t index, std::string_view type);

  // Moves row `index` in front of all the others, which keep their order; the
  // sort marks are cleared. Nothing happens for an index outside the list.
  void MoveRowToFront(size_t index);

  // Removes every selected row (keys and favorite count follow); returns how many.
  size_t RemoveSelected();
  // Removes every row for which `remove` holds, with its duplicate key and its
  // share of the favorite count; returns how many.
  size_t RemoveRowsIf(const std::function<bool(const ProxyRow&)>& remove);
  // Removes the rows whose entry in `gone` is true (one per row, in list order).
  size_t RemoveRowsAt(std::vector<bool> gone);
  // Removes every row; the key set and the favorite count are emptied.
  void RemoveAll();

  // Row sources: the download link each row came from, as a small number into
  // the list's table of links (0: none; the user's own rows). Sources are not
  // part of the row's saved line; the download side keeps them apart.
  static constexpr size_t kMaxSources = 255;
  // The number of `url` (trimmed), added to the table when new; 0 for a blank
  // URL or when the table is full.
  uint8_t SourceIdOf(std::string_view url);
  // The link of a source number; "" for 0 and numbers not handed out.
  std::string_view SourceUrl(uint8_t source) const;
  uint8_t RowSource(size_t index) const { return rows_[index].source; }
  void SetRowSource(size_t index, uint8_t source);

  // Expiry: the moment (Unix seconds) a provider said a row stops working.
  // Kept apart from the rows, for the few rows that have one.
  std::optional<int64_t> RowExpiry(size_t index) const;
  // Sets or clears a row's expiry; a new expiry makes an expired row usable again.
  void SetRowExpiry(size_t index, std::optional<int64_t> unix);
  bool RowExpired(size_t index) const;
  // Marks every row whose expiry is at or before `now_unix` as expired: its
  // status says so and its score becomes 0, so that switching, rotation and
  // failover pass over it. Returns how many rows were newly marked. Costs
  // nothing for a list without expiries.
  size_t MarkExpiredRows(int64_t now_unix);
  bool has_expiries() const { return !expiry_.empty(); }

  // Sorts by a column: the status column by score, the others by natural text
  // order. flag 1: best score first / texts ascending; flag 0: the reverse. Rows
  // never verified (negative score) keep their place in a score sort: they stay
  // behind the verified rows in descending order and do not move by themselves.
  void SortListColumn(int column, int flag);
  // 0 unsorted, 1 sorted with flag 1, 2 sorted with flag 0.
  int sort_state(int column) const { return sort_state_[size_t(column)]; }
  // The flag a click on the column's heading sorts with.
  int ColumnClickFlag(int column) const { return sort_state(column) == 1 ? 0 : 1; }

  // The caption of the list's group box; `running` is given while workers run.
  std::string CaptionText(const RunCounters* running) const;

  // Coalesces notifications: while a batch is open, observers hear nothing; at
  // its end they hear one OnRowsAppended (only appends happened) or OnRowsReset.
  class Batch {
   public:
    explicit Batch(ProxyList& list);
    ~Batch();
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

   private:
    ProxyList& list_;
  };

 private:
  struct SnapshotTag {};
  explicit ProxyList(SnapshotTag) : key_seed_(1) {}
  void NotifyAppended(size_t first);
  void NotifyChanged(size_t index);
  void NotifyReset();
  void NotifyFavorites();
  void NotifySelection();
  void EndBatch();
  void SetCheckedRaw(size_t index, bool on);
  // Record one change for TakeSavedChanges (nothing once it overflowed).
  SavedRowChange* Record(SavedRowChange::Kind kind);
  void RecordAdded(size_t index);
  // `key_before`: the row's key before the change, when the change alters it.
  void RecordState(size_t index, std::string key_before = {});

  // One row as stored. Address and port lie one after the other in text_; for
  // a row with a log-in, the user name's and password's sizes (two bytes each,
  // low byte first) and the two texts follow. The other texts are ids in texts_.
  // A row without a log-in pays nothing for it: the flag sits in padding.
  struct Slot {
    uint64_t text = 0;
    uint16_t address_size = 0;
    uint16_t port_size = 0;
    uint32_t id = 0;  // the row's entry in ids_
    uint32_t status = SharedTexts::kEmpty;
    uint32_t location = SharedTexts::kEmpty;
    uint32_t result = SharedTexts::kEmpty;
    uint32_t key_hash = 0;  // of the duplicate key
    int32_t score = -1;
    uint8_t type = 0;  // index into the accepted type names
    bool favorite = false;
    bool login = false;
    uint8_t source = 0;  // sits in what was padding
  };
  static_assert(sizeof(Slot) <= 40, "a row without a log-in must stay as small as before");
  // The duplicate key's parts: the address is compared without regard to ASCII
  // case, the port as typed, the type with SOCKS4 and SOCKS5 taken as SOCKS.
  // The user name is part of the key (a gateway's rows differ by user name),
  // the password is not; with a user name, untyped, HTTP and HTTPS are one kind.
  struct KeyParts {
    std::string_view address;
    std::string_view port;
    std::string_view user;
    uint8_t kind = 0;
    uint32_t hash = 0;
  };
  std::string_view AddressOf(const Slot& s) const;
  std::string_view PortOf(const Slot& s) const;
  std::string_view UserOf(const Slot& s) const;
  std::string_view PasswordOf(const Slot& s) const;
  // The bytes of a row in text_: address, port and log-in.
  size_t TextSizeOf(const Slot& s) const;
  KeyParts KeyOf(std::string_view address, std::string_view port, uint8_t type,
                 std::string_view user) const;
  bool SameKey(const Slot& s, const KeyParts& key) const;
  // The index of the row with `key`, or SIZE_MAX.
  size_t FindKey(const KeyParts& key) const;
  void InsertKey(size_t index);
  // Takes the key of row `index` out of the table.
  void EraseKey(size_t index);
  // Builds the key table again for the rows as they are now.
  void RebuildKeys(size_t capacity_for);
  // Sets one of a row's shared texts.
  void SetText(uint32_t* id, std::string_view text);
  void ReleaseTexts(const Slot& s);
  // A fresh id entry for a row about to be at `index`.
  uint32_t NewId(size_t index);
  void FreeId(uint32_t entry);
  // Every row's id entry learns the row's place again (after a sort or a move).
  void ReindexIds();
  std::vector<SortKey> ColumnSortKeys(int column, std::vector<std::string>* converted) const;

  std::vector<Slot> rows_;
  // Row ids: an entry per id handed out and not yet freed, with the row's place
  // and the entry's generation (a freed entry is used again by a later row under
  // the next generation, so an old id never finds it).
  struct IdEntry {
    uint32_t index = 0;
    uint32_t generation = 0;
  };
  std::vector<IdEntry> ids_;
  std::vector<uint32_t> free_ids_;
  std::string text_;  // addresses, ports and log-ins
  std::vector<std::string> sources_;  // source n is sources_[n - 1]
  struct Expiry {
    int64_t at = 0;
    bool expired = false;
  };
  std::unordered_map<uint32_t, Expiry> expiry_;  // by the row's id entry
  SharedTexts texts_;
  RowSelection selection_;
  // Open addressing over row index + 1 with a tag of the key's hash (0: empty),
  // at most half full.
  std::vector<uint32_t> key_table_;
  uint32_t key_seed_;
  int favorite_count_ = 0;
  uint64_t saved_version_ = 0;
  uint64_t result_version_ = 0;
  SavedChanges changes_;
  std::array<int, kColumnCount> sort_state_{};
  Locator locator_;
  BatchHook locator_batch_;
  ProxyListObserver* observer_ = nullptr;

  int batch_depth_ = 0;
  bool batch_reset_ = false;
  bool batch_favorites_ = false;
  bool batch_selection_ = false;
  size_t batch_append_first_ = SIZE_MAX;
};

}  // namespace core
