// The proxy list: the one store of every proxy the program knows, as rows in
// list order, with the set of duplicate keys, the favorite count, the reserved
// mark and the selection. The main dialog's list view is a view of this model and
// learns about changes through ProxyListObserver. UI thread only.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace core {

// Texts the list writes into its rows and caption.
inline constexpr std::string_view kReservedMark = "<保留ip>";
inline constexpr std::string_view kStatusNotVerified = "未验证";
inline constexpr std::string_view kListCaptionTitle = "proxy服务器列表";

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
};

struct ProxyRow {
  std::string address;
  std::string port;
  std::string type;
  std::string status;
  std::string location;  // with the reserved mark in front for reserved rows
  std::string result;
  int32_t score = -1;  // -1 never verified, 0 unusable, >= 1 usable (higher is better)
  bool favorite = false;  // the row's check box
  bool selected = false;

  const std::string& Column(int column) const;
};

// Counters of a verification run, shown in the caption while workers are active.
struct RunCounters {
  int done = 0;
  int usable = 0;
  int remaining = 0;
};

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
};

class ProxyList {
 public:
  // Gives the location text of an address ("country area"), or "" when unknown.
  using Locator = std::function<std::string(std::string_view address)>;

  ProxyList() = default;
  ProxyList(const ProxyList&) = delete;
  ProxyList& operator=(const ProxyList&) = delete;

  void SetLocator(Locator locator) { locator_ = std::move(locator); }
  void SetObserver(ProxyListObserver* observer) { observer_ = observer; }

  // Parses `line` and appends it as a selected, unverified row (ticked when
  // `favorite`). The remark, when given, is the location; otherwise the locator
  // fills it. A line from outside loses a reserved mark at the start of its
  // remark (the row itself is added).
  AddResult AddProxy(std::string_view line, bool favorite, LineOrigin origin = LineOrigin::kUser);

  size_t size() const { return rows_.size(); }
  bool empty() const { return rows_.empty(); }
  const ProxyRow& row(size_t index) const { return rows_[index]; }
  int favorite_count() const { return favorite_count_; }
  size_t selected_count() const;
  bool ContainsKey(const std::string& key) const { return keys_.count(key) != 0; }

  // Text forms of a row; empty for an index outside the list.
  std::string RowHostPort(int64_t index) const;
  // The proxy text that makes the row the system proxy: host:port@TYPE for a
  // SOCKS, SOCKS4 or SOCKS5 row (the browser must speak SOCKS to it),
  // host:port for every other row (all protocols through it).
  std::string RowProxyText(int64_t index) const;
  std::string RowFullLine(int64_t index) const;
  std::string RowLocation(int64_t index) const;

  // Selection, as the list view reports it.
  void SetSelected(size_t index, bool on);
  void SelectAll(bool on);

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

  // Removes every selected row (keys and favorite count follow); returns how many.
  size_t RemoveSelected();
  // Removes every row for which `remove` holds, with its duplicate key and its
  // share of the favorite count; returns how many.
  size_t RemoveRowsIf(const std::function<bool(const ProxyRow&)>& remove);
  // Removes every row; the key set and the favorite count are emptied.
  void RemoveAll();

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
  void NotifyAppended(size_t first);
  void NotifyChanged(size_t index);
  void NotifyReset();
  void NotifyFavorites();
  void EndBatch();
  void SetCheckedRaw(size_t index, bool on);

  std::vector<ProxyRow> rows_;
  std::unordered_set<std::string> keys_;
  int favorite_count_ = 0;
  std::array<int, kColumnCount> sort_state_{};
  Locator locator_;
  ProxyListObserver* observer_ = nullptr;

  int batch_depth_ = 0;
  bool batch_reset_ = false;
  bool batch_favorites_ = false;
  size_t batch_append_first_ = SIZE_MAX;
};

}  // namespace core
