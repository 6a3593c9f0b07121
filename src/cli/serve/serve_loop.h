// The `serve` command's event loop: one epoll instance on one thread, no thread
// per connection. It accepts clients, runs each one's core::RelaySession (which
// makes every decision until the tunnel is up), connects where the session says,
// copies bytes both ways within bounded buffers, keeps the deadlines, answers
// the status page, and swaps in the pool each verification (run on a thread of
// its own, with its own event loop) hands over. Linux only.
#pragma once

#include <csignal>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "cli/serve/serve_options.h"
#include "cli/serve/serve_pool.h"

namespace cli {

// What one verification of the lists found.
struct VerifiedPool {
  std::vector<PoolRow> rows;
  std::string messages;  // for the terminal, one per line
  bool read = true;      // false: the lists could not be read; the pool stays
};

// Runs on the verification's thread; stops early when *stop turns non-zero.
using Verifier = std::function<VerifiedPool(volatile std::sig_atomic_t* stop)>;

// Serves until SIGTERM or SIGINT (the caller blocks them, and SIGHUP, in every
// thread before). Returns the exit status: 0 after a stop, 2 when a port
// cannot be opened.
int RunServeLoop(const ServeOptions& options, const Verifier& verify, std::ostream& err);

}  // namespace cli
