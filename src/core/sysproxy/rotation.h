// A new exit per connection ("每个连接换一个IP"): the local relay gives each new
// client connection the next row of a pool of usable rows, in turn, with the
// two rows after it as its failover; optionally a site keeps the row it had
// for some minutes ("同一网站保持同一IP"), for sites that bind a log-in to an
// address. A row that fails leaves the pool until the pool is made again
// (after its next verification). The pool is set on the UI thread and chosen
// from on the relay's thread: every method may be called from any thread.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/net/relay_session.h"
#include "core/proxylist/place_filter.h"
#include "core/proxylist/proxy_list.h"

namespace core {

// The most rows a rotation goes round: far more exits than a browser's
// connections ever reach, and a bound on the pool's cost at a million rows.
inline constexpr size_t kMaxRotationRows = 10000;
// Sites remembered for keeping their row; the oldest go first past it.
inline constexpr size_t kMaxStickySites = 4096;

// The usable rows for a rotation, best first: verified usable rows by score,
// then rows never verified, in list order; never a failed row (score 0), a
// row the filter leaves out, one no connection can be carried through (FTP,
// GOPHER), or one naming the relay itself on this machine. At most
// kMaxRotationRows. Each candidate carries its row's id.
std::vector<RelayCandidate> RotationPool(const ProxyList& list, const PlaceFilter& filter,
                                         const std::vector<uint16_t>& relay_ports);

class Rotation {
 public:
  void SetPool(std::vector<RelayCandidate> pool);
  // 0: every connection takes the next row.
  void SetStickyMinutes(uint32_t minutes);
  // The candidates for a new connection to `host` at `now_ms`: the row the
  // site kept (while it is in the pool and its time has not run out), else
  // the next row in turn; then the rows after it, up to kMaxRelayAttempts.
  // None while the pool is empty.
  std::vector<RelayCandidate> Choose(std::string_view host, uint64_t now_ms);
  // Row `row` failed: it is passed over until the next SetPool.
  void Drop(uint64_t row);
  size_t size() const;
  // Connections given a row so far.
  uint64_t chosen() const;

 private:
  std::vector<RelayCandidate> CandidatesFrom(size_t first) const;

  mutable std::mutex mutex_;
  std::vector<RelayCandidate> pool_;
  size_t next_ = 0;
  uint64_t chosen_ = 0;
  uint64_t sticky_ms_ = 0;
  struct Kept {
    uint64_t row = 0;
    uint64_t until_ms = 0;
  };
  std::map<std::string, Kept> kept_;  // by site (host in lower case)
};

}  // namespace core
