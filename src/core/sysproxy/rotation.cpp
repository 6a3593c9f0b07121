#include "core/sysproxy/rotation.h"

#include <algorithm>

#include "core/base/text.h"
#include "core/net/net_target.h"

namespace core {

std::vector<RelayCandidate> RotationPool(const ProxyList& list, const PlaceFilter& filter,
                                         const std::vector<uint16_t>& relay_ports) {
  // Rows are picked by their scores first (cheap), and only the chosen ones
  // pay for their upstream and label.
  std::vector<size_t> rows;
  // Rows share their location texts: each distinct one is judged once.
  std::map<std::string_view, bool> passes;
  for (size_t i = 0; i < list.size(); ++i) {
    if (list.RowScore(i) == 0 || list.RowExpired(i)) continue;
    if (!filter.empty()) {
      std::string_view location = list.row(i).location;
      auto [it, fresh] = passes.try_emplace(location, false);
      if (fresh) it->second = RowPasses(filter, location);
      if (!it->second) continue;
    }
    rows.push_back(i);
  }
  auto better = [&list](size_t a, size_t b) {
    int32_t sa = list.RowScore(a), sb = list.RowScore(b);
    if ((sa > 0) != (sb > 0)) return sa > 0;
    return sa > 0 && sa != sb ? sa > sb : a < b;
  };
  if (rows.size() > kMaxRotationRows) {
    std::nth_element(rows.begin(), rows.begin() + ptrdiff_t(kMaxRotationRows), rows.end(), better);
    rows.resize(kMaxRotationRows);
  }
  std::sort(rows.begin(), rows.end(), better);
  std::vector<RelayCandidate> pool;
  pool.reserve(rows.size());
  for (size_t i : rows) {
    // Rarer than any other refusal, so looked at only for the chosen rows.
    ProxyRow r = list.row(i);
    if (NamesOwnPort(r.address, r.port, relay_ports)) continue;
    std::optional<UpstreamProxy> upstream = list.RowUpstream(int64_t(i));
    if (upstream) pool.push_back({*upstream, list.RowHostPort(int64_t(i)), uint64_t(list.IdAt(i))});
  }
  return pool;
}

void Rotation::SetPool(std::vector<RelayCandidate> pool) {
  std::lock_guard<std::mutex> lock(mutex_);
  pool_ = std::move(pool);
  if (next_ >= pool_.size()) next_ = 0;
}

void Rotation::SetStickyMinutes(uint32_t minutes) {
  std::lock_guard<std::mutex> lock(mutex_);
  sticky_ms_ = uint64_t(minutes) * 60 * 1000;
  if (sticky_ms_ == 0) kept_.clear();
}

std::vector<RelayCandidate> Rotation::CandidatesFrom(size_t first) const {
  std::vector<RelayCandidate> out;
  for (size_t k = 0; k < pool_.size() && out.size() < kMaxRelayAttempts; ++k) {
    out.push_back(pool_[(first + k) % pool_.size()]);
  }
  return out;
}

std::vector<RelayCandidate> Rotation::Choose(std::string_view host, uint64_t now_ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pool_.empty()) return {};
  ++chosen_;
  std::string site;
  if (sticky_ms_ != 0) {
    site.reserve(host.size());
    for (char c : host) site += AsciiLower(c);
    auto it = kept_.find(site);
    if (it != kept_.end() && now_ms < it->second.until_ms) {
      for (size_t i = 0; i < pool_.size(); ++i) {
        if (pool_[i].row == it->second.row) return CandidatesFrom(i);
      }
    }
  }
  size_t first = next_;
  next_ = (next_ + 1) % pool_.size();
  if (sticky_ms_ != 0) {
    if (kept_.size() >= kMaxStickySites && !kept_.count(site)) {
      // The site whose time runs out first makes room.
      auto oldest = std::min_element(kept_.begin(), kept_.end(), [](const auto& a, const auto& b) {
        return a.second.until_ms < b.second.until_ms;
      });
      kept_.erase(oldest);
    }
    kept_[site] = {pool_[first].row, now_ms + sticky_ms_};
  }
  return CandidatesFrom(first);
}

void Rotation::Drop(uint64_t row) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t i = 0; i < pool_.size(); ++i) {
    if (pool_[i].row != row) continue;
    pool_.erase(pool_.begin() + ptrdiff_t(i));
    if (next_ > i) --next_;
    if (next_ >= pool_.size()) next_ = 0;
    return;
  }
}

size_t Rotation::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pool_.size();
}

uint64_t Rotation::chosen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return chosen_;
}

}  // namespace core
