// Failover: what happens when a proxy fails while the program relies on it.
// Three things can tell: the exit check after a switch, the local relay (its
// connection to a row failed before the row answered), and a verification.
// They all report here; this decides whether the row's failure goes into the
// list and whether automatic switching moves on. Pure; UI thread.
#pragma once

#include <string>
#include <string_view>

#include "core/proxylist/proxy_list.h"

namespace core {

enum class FailureSource : uint8_t {
  kExitCheck,     // the exit check through the row in use found no exit
  kRelay,         // the relay could not carry a connection through the row
  kVerification,  // a verification run found the row unusable
  kExpired,       // the provider's expiry for the row has passed
};

struct ProxyFailureReport {
  RowId row = kNoRow;
  FailureSource source = FailureSource::kRelay;
  std::string reason;  // in words, for the list's result column
};

struct FailoverDecision {
  // Write the failure into the row (status, result, score 0), so that the list
  // shows it and automatic switching, failover and the relay pass over the row
  // until it is verified again.
  bool mark_row = false;
  std::string status;
  std::string result;
  // The proxy in use failed: automatic switching, when on, moves on at once.
  bool move_on = false;
};

// Status texts of a row failed outside a verification.
inline constexpr std::string_view kRelayFailedStatus = "X;中转连接失败;";
inline constexpr std::string_view kExitCheckFailedStatus = "X;出口检测失败;";

// The decision for `report` while `in_use` is the row in use and failover
// ("检测失败时自动换下一个IP") is `failover_on`:
// - a relay failure marks its row (the relay already went round it), whether
//   or not the row is still in use;
// - an exit check failure marks the row only with failover on: without it the
//   red dot is all the user asked for;
// - a verification, or the expiry, has written its own result: nothing to mark;
// - with failover on, a failure of the row in use moves switching on; an
//   expired row in use moves it on in any case (its address is gone).
// A report of no row decides nothing.
FailoverDecision DecideFailover(const ProxyFailureReport& report, RowId in_use, bool failover_on);

}  // namespace core
