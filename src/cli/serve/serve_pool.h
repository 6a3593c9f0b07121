// The rows `serve` carries connections through: every row of the last
// verification with its state, and the rotation over the usable ones. A row
// that fails as a client's upstream leaves the rotation until the next
// verification replaces the pool. Pure (times are passed in); one thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cli/serve/serve_options.h"
#include "core/net/relay_session.h"
#include "core/sysproxy/rotation.h"

namespace cli {

enum class RowState { kUsable, kFailed, kEvicted };

const char* RowStateWord(RowState state);

struct PoolRow {
  // The proxy as connections use it: its address resolved to an IP literal,
  // `label` the row's own "host:port". `row` is set by the pool.
  core::RelayCandidate candidate;
  std::string type;    // HTTP, SOCKS5...
  int32_t score = 0;   // 0: failed its check
  std::string reason;  // why it failed its check, or as an upstream
  uint64_t checked_ms = 0;
  RowState state = RowState::kFailed;
  uint64_t carried = 0;   // connections it carried since the check
  uint64_t failures = 0;  // connections it failed since the check
};

class ServePool {
 public:
  ServePool(RotateMode mode, uint32_t rotate_seconds, uint32_t sticky_minutes);

  // The rows of a new verification: the usable ones go round, best score first
  // (list order among equals). Rows keep their order here.
  void Replace(std::vector<PoolRow> rows);
  // The candidates for a new connection to `host`: none while no row is usable.
  std::vector<core::RelayCandidate> Choose(std::string_view host, uint64_t now_ms);
  // Row `row` failed a client (its fault, not the target's): out of the rotation.
  // Rows of an earlier pool are let be. True when the row was in the rotation.
  bool Failed(uint64_t row, std::string_view reason);
  // The row's label, "" for a row of an earlier pool.
  std::string LabelOf(uint64_t row);
  void Carried(uint64_t row);

  const std::vector<PoolRow>& rows() const { return rows_; }
  size_t usable() const { return rotation_.size(); }
  uint64_t evictions() const { return evictions_; }

 private:
  PoolRow* Find(uint64_t row);

  RotateMode mode_;
  uint64_t interval_ms_;
  core::Rotation rotation_;
  std::vector<PoolRow> rows_;
  uint64_t generation_ = 0;
  uint64_t evictions_ = 0;
  // kInterval: the rows in use and until when.
  std::vector<core::RelayCandidate> current_;
  uint64_t current_until_ms_ = 0;
};

}  // namespace cli
