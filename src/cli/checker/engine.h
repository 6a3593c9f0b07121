// The checker's event loop: one epoll instance, non-blocking sockets, no thread per
// proxy. It runs tasks (one proxy's check, or one direct fetch), at most `in_flight`
// at once, each a series of PageFetch machines that own every decision; the loop
// only moves bytes, connects, and keeps the deadlines. Linux only; one thread.
#pragma once

#include <sys/socket.h>

#include <csignal>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/verify/page_fetch.h"

namespace cli {

// Fetches a task may run at once, each on a connection of its own (a type
// detection asks every protocol at once).
inline constexpr size_t kTaskLanes = core::kDetectionLanes;

class CheckTask {
 public:
  virtual ~CheckTask() = default;
  // The fetch under way on `lane` (below kTaskLanes); null when the lane is idle.
  // The task is over when every lane is idle.
  virtual core::PageFetch* fetch(size_t lane) = 0;
  // Something happened to one of the task's fetches (bytes, an end, a deadline):
  // the task may drop a lane's fetch (its connection is then closed) or follow a
  // done fetch with the next one in its lane (on a new connection). A fetch that
  // is not done is never replaced by another, only dropped.
  virtual void Advance(uint32_t now) = 0;
};

// Monotonic milliseconds, wrapping at 2^32.
uint32_t NowMs();

// Resolves host names once each (blocking) and remembers them; literals are
// converted without a look-up. Prime() may run on other threads before Run.
class Resolver {
 public:
  // The first address of `host` on `port`; false when it has none.
  bool Resolve(const std::string& host, uint16_t port, sockaddr_storage* out, socklen_t* len);
  // Resolves each name of `hosts` on up to `threads` threads.
  void Prime(const std::vector<std::string>& hosts, int threads);

 private:
  std::map<std::string, std::vector<uint8_t>> cache_;  // empty vector: no address
};

struct EngineOptions {
  int in_flight = 1000;
  // Set by a signal handler: the run stops at once (tasks under way are dropped).
  volatile std::sig_atomic_t* stop = nullptr;
  // Called at least every 250 ms while the run goes on, and once at its end.
  std::function<void(uint32_t now)> on_tick;
};

class Engine {
 public:
  // `next` gives the tasks in order (null when there are no more); `finished`
  // receives each task that ended. Returns false when the run was stopped or the
  // loop could not be set up (`error` says which).
  bool Run(const std::function<std::unique_ptr<CheckTask>(uint32_t now)>& next,
           const std::function<void(std::unique_ptr<CheckTask>)>& finished,
           const EngineOptions& options, Resolver& resolver, std::string* error);
};

// Raises the open-file limit to the hard limit; returns the soft limit then in force.
int RaiseFileLimit();

}  // namespace cli
