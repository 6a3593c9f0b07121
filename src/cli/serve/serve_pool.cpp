#include "cli/serve/serve_pool.h"

#include <algorithm>

namespace cli {

const char* RowStateWord(RowState state) {
  switch (state) {
    case RowState::kUsable:
      return "usable";
    case RowState::kFailed:
      return "failed";
    case RowState::kEvicted:
      return "evicted";
  }
  return "";
}

ServePool::ServePool(RotateMode mode, uint32_t rotate_seconds, uint32_t sticky_minutes)
    : mode_(mode), interval_ms_(uint64_t(rotate_seconds) * 1000) {
  rotation_.SetStickyMinutes(mode == RotateMode::kHostSticky ? sticky_minutes : 0);
}

// Row ids carry the pool's generation in their high half, so that a
// connection begun on an earlier pool never evicts a row of this one.
void ServePool::Replace(std::vector<PoolRow> rows) {
  rows_ = std::move(rows);
  ++generation_;
  std::vector<size_t> order;
  for (size_t i = 0; i < rows_.size(); ++i) {
    rows_[i].candidate.row = (generation_ << 32) | i;
    if (rows_[i].state == RowState::kUsable) order.push_back(i);
  }
  std::stable_sort(order.begin(), order.end(),
                   [this](size_t a, size_t b) { return rows_[a].score > rows_[b].score; });
  std::vector<core::RelayCandidate> usable;
  for (size_t i : order) usable.push_back(rows_[i].candidate);
  rotation_.SetPool(std::move(usable));
  current_.clear();
}

PoolRow* ServePool::Find(uint64_t row) {
  if ((row >> 32) != generation_ || (row & 0xffffffffu) >= rows_.size()) return nullptr;
  return &rows_[row & 0xffffffffu];
}

std::vector<core::RelayCandidate> ServePool::Choose(std::string_view host, uint64_t now_ms) {
  if (mode_ != RotateMode::kInterval) return rotation_.Choose(host, now_ms);
  // One row for everyone until its time is up or it fails; the rows after it
  // stay its failover.
  bool gone = !current_.empty() && Find(current_[0].row)->state != RowState::kUsable;
  if (current_.empty() || gone || now_ms >= current_until_ms_) {
    current_ = rotation_.Choose("", now_ms);
    current_until_ms_ = now_ms + interval_ms_;
  }
  std::vector<core::RelayCandidate> out;
  for (const core::RelayCandidate& c : current_) {
    if (Find(c.row)->state == RowState::kUsable) out.push_back(c);
  }
  return out;
}

bool ServePool::Failed(uint64_t row, std::string_view reason) {
  PoolRow* r = Find(row);
  if (!r) return false;
  ++r->failures;
  r->reason = std::string(reason);
  if (r->state != RowState::kUsable) return false;
  r->state = RowState::kEvicted;
  ++evictions_;
  rotation_.Drop(row);
  return true;
}

std::string ServePool::LabelOf(uint64_t row) {
  PoolRow* r = Find(row);
  return r ? r->candidate.label : std::string();
}

void ServePool::Carried(uint64_t row) {
  if (PoolRow* r = Find(row)) ++r->carried;
}

}  // namespace cli
