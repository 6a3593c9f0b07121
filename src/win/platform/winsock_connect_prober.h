// WinsockConnectProber: the connect gate's ConnectProber on Winsock. Sockets are
// non-blocking; one prober thread makes them, learns of each connect's end from
// a message the system posts to its window, and closes each socket as soon as
// its outcome is known; host names are resolved on the system thread pool.
// Outcomes reach the UI thread in batches, announced by a function posted to
// the prober's inbox, which hands them to the report target (the verify
// scheduler). Created, called and destroyed on the UI thread only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <string_view>

#include "core/verify/connect_gate.h"
#include "win/platform/dispatcher.h"
#include "win/platform/unique_handle.h"

namespace win {

class WinsockConnectProber final : public core::ConnectProber {
 public:
  WinsockConnectProber();
  // Cancels every probe and ends the prober thread.
  ~WinsockConnectProber() override;
  WinsockConnectProber(const WinsockConnectProber&) = delete;
  WinsockConnectProber& operator=(const WinsockConnectProber&) = delete;

  // Creates the prober thread (and its window). False when it could not be
  // made, or nothing can reach this thread; Start then answers kFailed.
  bool Create();
  // Told on the UI thread of each outcome of a probe that was neither
  // cancelled nor finished before.
  void SetReportTarget(core::ProbeReportTarget* target) override { target_ = target; }

  core::ProbeStart Start(uint64_t id, std::string_view host, uint16_t port) override;
  void Cancel(uint64_t id) override;
  void CancelAll() override;

  // Sockets open (connecting, or cancelled and not closed yet), for tests.
  int open_sockets() const;
  // Outcomes known to the prober thread and not yet taken by the UI thread.
  size_t queued_outcomes() const;

  class State;  // shared with the prober thread and name resolutions

 private:
  void TakeOutcomes();

  std::shared_ptr<State> state_;
  UniqueKernelHandle thread_;
  bool wsa_ = false;
  std::set<uint64_t> live_;  // started, not cancelled, not reported (UI thread)
  std::deque<std::pair<uint64_t, bool>> arrived_;  // taken from the thread, not handed on
  core::ProbeReportTarget* target_ = nullptr;
  Inbox inbox_;
};

}  // namespace win
