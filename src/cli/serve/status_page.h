// What `serve` says about itself: the terminal's status line, the status
// page's row table and its counters in the Prometheus text format, and the
// answer to a request for one of them. Pure; the loop owns the counters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "cli/serve/serve_pool.h"

namespace cli {

struct ServeCounters {
  uint64_t accepted = 0;  // client connections
  uint64_t open = 0;      // client connections open now
  uint64_t carried = 0;   // connections whose tunnel (or request) went through
  uint64_t refused = 0;   // refused requests (garbage, log-in, loops, the pool empty)
  uint64_t failed = 0;    // requests no row could carry
  uint64_t no_pool = 0;   // of `refused`: while no row was usable
  uint64_t bytes_up = 0;  // client to upstream, piped
  uint64_t bytes_down = 0;
  uint64_t verifications = 0;  // verifications finished
  bool verifying = false;
};

// "pool 120, 37 usable, 12 open, 4.2 conn/s, verifying"
std::string StatusLine(const ServeCounters& c, const ServePool& pool, double rate_per_s);

// One line a row: address, type, state, score, seconds since its check,
// connections carried and failed, the reason; after a summary line.
std::string PoolText(const ServeCounters& c, const ServePool& pool, uint64_t now_ms);

std::string MetricsText(const ServeCounters& c, const ServePool& pool);

// The whole HTTP answer to a request head: GET / (the pool), GET /metrics,
// else 404 (405 for another method).
std::string StatusAnswer(std::string_view head, const ServeCounters& c, const ServePool& pool,
                         uint64_t now_ms);

}  // namespace cli
