#include "core/proxylist/proxy_list.h"

#include "core/base/text.h"
#include "core/proxylist/list_sort.h"
#include "core/proxylist/natural_compare.h"
#include "core/proxylist/proxy_line.h"

namespace core {

const std::string& ProxyRow::Column(int column) const {
  switch (column) {
    case kColAddress: return address;
    case kColPort: return port;
    case kColType: return type;
    case kColStatus: return status;
    case kColLocation: return location;
    default: return result;
  }
}

namespace {

bool StartsWithReservedMark(std::string_view text) {
  return text.size() >= kReservedMark.size() &&
         EqualsIgnoreAsciiCase(text.substr(0, kReservedMark.size()), kReservedMark);
}

}  // namespace

AddResult ProxyList::AddProxy(std::string_view line, bool favorite, LineOrigin origin) {
  ProxyLine parsed;
  if (!ParseProxyLine(line, &parsed)) return AddResult::kRefused;
  if (origin == LineOrigin::kOutside) {
    // "<保留ip><保留ip>x" would still be reserved after one mark went.
    std::string_view remark = parsed.remark;
    while (StartsWithReservedMark(remark)) remark = Trim(remark.substr(kReservedMark.size()));
    parsed.remark = std::string(remark);
  }
  std::string key = DuplicateKey(parsed.address, parsed.port, parsed.type);
  if (keys_.count(key) != 0) return AddResult::kDuplicate;

  std::string location = std::move(parsed.remark);
  if (location.empty() && locator_) location = locator_(parsed.address);

  keys_.insert(std::move(key));
  ProxyRow row;
  row.address = std::move(parsed.address);
  row.port = std::move(parsed.port);
  row.type = std::move(parsed.type);
  row.status = std::string(kStatusNotVerified);
  row.location = std::move(location);
  row.selected = true;
  rows_.push_back(std::move(row));
  NotifyAppended(rows_.size() - 1);
  if (favorite) SetChecked(rows_.size() - 1, true);
  return AddResult::kAdded;
}

size_t ProxyList::selected_count() const {
  size_t n = 0;
  for (const ProxyRow& r : rows_) n += r.selected ? 1 : 0;
  return n;
}

std::string ProxyList::RowHostPort(int64_t index) const {
  if (index < 0 || uint64_t(index) >= rows_.size()) return {};
  const ProxyRow& r = rows_[size_t(index)];
  return HostPortText(r.address, r.port);
}

std::string ProxyList::RowProxyText(int64_t index) const {
  if (index < 0 || uint64_t(index) >= rows_.size()) return {};
  const ProxyRow& r = rows_[size_t(index)];
  if (r.type == "SOCKS" || r.type == "SOCKS4" || r.type == "SOCKS5") {
    return FullLineText(r.address, r.port, r.type, "");
  }
  return HostPortText(r.address, r.port);
}

std::string ProxyList::RowFullLine(int64_t index) const {
  if (index < 0 || uint64_t(index) >= rows_.size()) return {};
  const ProxyRow& r = rows_[size_t(index)];
  return FullLineText(r.address, r.port, r.type, r.location);
}

std::string ProxyList::RowLocation(int64_t index) const {
  if (index < 0 || uint64_t(index) >= rows_.size()) return {};
  return rows_[size_t(index)].location;
}

void ProxyList::SetSelected(size_t index, bool on) {
  if (index >= rows_.size() || rows_[index].selected == on) return;
  rows_[index].selected = on;
  NotifyChanged(index);
}

void ProxyList::SelectAll(bool on) {
  Batch batch(*this);
  for (size_t i = 0; i < rows_.size(); ++i) SetSelected(i, on);
}

void ProxyList::SetCheckedRaw(size_t index, bool on) {
  ProxyRow& r = rows_[index];
  if (r.favorite == on) return;
  r.favorite = on;
  favorite_count_ += on ? 1 : -1;
  NotifyChanged(index);
  NotifyFavorites();
}

void ProxyList::SetChecked(size_t index, bool on) {
  if (index >= rows_.size()) return;
  // A reserved row keeps its tick for as long as it carries the mark.
  if (!on && IsReserved(index)) return;
  SetCheckedRaw(index, on);
}

bool ProxyList::IsReserved(size_t index) const {
  if (index >= rows_.size()) return false;
  std::string_view loc = rows_[index].location;
  return StartsWithReservedMark(loc);
}

void ProxyList::SetReserved(size_t index, bool on) {
  if (index >= rows_.size()) return;
  bool reserved = IsReserved(index);
  ProxyRow& r = rows_[index];
  if (on && !reserved) {
    r.location.insert(0, kReservedMark);
    NotifyChanged(index);
    SetCheckedRaw(index, true);
  } else if (!on && reserved) {
    r.location.erase(0, kReservedMark.size());
    NotifyChanged(index);
  }
}

void ProxyList::MakeSelectedReserved() {
  Batch batch(*this);
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].selected) SetReserved(i, true);
  }
}

void ProxyList::MakeSelectedFavorite() {
  Batch batch(*this);
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (!rows_[i].selected) continue;
    SetReserved(i, false);
    SetChecked(i, true);
  }
}

void ProxyList::MakeSelectedGeneral() {
  Batch batch(*this);
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (!rows_[i].selected) continue;
    SetReserved(i, false);
    SetChecked(i, false);
  }
}

void ProxyList::SetVerifyResult(size_t index, std::string status, std::string result,
                                int32_t score) {
  if (index >= rows_.size()) return;
  ProxyRow& r = rows_[index];
  r.status = std::move(status);
  r.result = std::move(result);
  r.score = score;
  NotifyChanged(index);
}

void ProxyList::SetStatusText(size_t index, std::string status) {
  if (index >= rows_.size()) return;
  rows_[index].status = std::move(status);
  NotifyChanged(index);
}

size_t ProxyList::RemoveSelected() {
  return RemoveRowsIf([](const ProxyRow& r) { return r.selected; });
}

size_t ProxyList::RemoveRowsIf(const std::function<bool(const ProxyRow&)>& remove) {
  size_t kept = 0;
  size_t removed = 0;
  int favorites_removed = 0;
  for (size_t i = 0; i < rows_.size(); ++i) {
    ProxyRow& r = rows_[i];
    if (remove(r)) {
      keys_.erase(DuplicateKey(r.address, r.port, r.type));
      favorites_removed += r.favorite ? 1 : 0;
      ++removed;
    } else {
      if (kept != i) rows_[kept] = std::move(r);
      ++kept;
    }
  }
  if (removed == 0) return 0;
  rows_.resize(kept);
  favorite_count_ -= favorites_removed;
  NotifyReset();
  if (favorites_removed != 0) NotifyFavorites();
  return removed;
}

void ProxyList::RemoveAll() {
  bool had_favorites = favorite_count_ != 0;
  rows_.clear();
  keys_.clear();
  favorite_count_ = 0;
  NotifyReset();
  if (had_favorites) NotifyFavorites();
}

void ProxyList::SortListColumn(int column, int flag) {
  if (column < 0 || column >= kColumnCount) return;
  std::vector<size_t> order;
  if (column == kColStatus) {
    std::vector<int32_t> scores;
    scores.reserve(rows_.size());
    for (const ProxyRow& r : rows_) scores.push_back(r.score);
    order = ScoreSortOrder(scores, flag);
  } else {
    std::vector<std::string> keys;
    keys.reserve(rows_.size());
    for (const ProxyRow& r : rows_) keys.push_back(NaturalSortKey(r.Column(column)));
    order = TextSortOrder(keys, flag);
  }
  std::vector<ProxyRow> sorted;
  sorted.reserve(rows_.size());
  for (size_t i : order) sorted.push_back(std::move(rows_[i]));
  rows_ = std::move(sorted);
  sort_state_.fill(0);
  sort_state_[size_t(column)] = flag == 1 ? 1 : 2;
  NotifyReset();
}

std::string ProxyList::CaptionText(const RunCounters* running) const {
  std::string text(kListCaptionTitle);
  if (rows_.empty()) return text;
  if (running) {
    text += Format("(已验证:%d, 可用:%d, 未验证:%d)", running->done, running->usable,
                   running->remaining);
  } else {
    text += Format("(ip总数:%d, 常用ip:%d)", int(rows_.size()), favorite_count_);
  }
  return text;
}

ProxyList::Batch::Batch(ProxyList& list) : list_(list) { ++list_.batch_depth_; }
ProxyList::Batch::~Batch() { list_.EndBatch(); }

void ProxyList::EndBatch() {
  if (--batch_depth_ > 0) return;
  bool reset = batch_reset_;
  bool favorites = batch_favorites_;
  size_t first = batch_append_first_;
  batch_reset_ = batch_favorites_ = false;
  batch_append_first_ = SIZE_MAX;
  if (!observer_) return;
  if (reset) {
    observer_->OnRowsReset();
  } else if (first != SIZE_MAX && first < rows_.size()) {
    observer_->OnRowsAppended(first, rows_.size() - first);
  }
  if (favorites) observer_->OnFavoritesChanged();
}

void ProxyList::NotifyAppended(size_t first) {
  if (batch_depth_ > 0) {
    if (batch_append_first_ == SIZE_MAX) batch_append_first_ = first;
    return;
  }
  if (observer_) observer_->OnRowsAppended(first, 1);
}

void ProxyList::NotifyChanged(size_t index) {
  if (batch_depth_ > 0) {
    // A change to a row that was appended in this batch is covered by the append.
    if (batch_append_first_ == SIZE_MAX || index < batch_append_first_) batch_reset_ = true;
    return;
  }
  if (observer_) observer_->OnRowChanged(index);
}

void ProxyList::NotifyReset() {
  if (batch_depth_ > 0) {
    batch_reset_ = true;
    return;
  }
  if (observer_) observer_->OnRowsReset();
}

void ProxyList::NotifyFavorites() {
  if (batch_depth_ > 0) {
    batch_favorites_ = true;
    return;
  }
  if (observer_) observer_->OnFavoritesChanged();
}

}  // namespace core
