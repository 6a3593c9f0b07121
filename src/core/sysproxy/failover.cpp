#include "core/sysproxy/failover.h"

namespace core {

FailoverDecision DecideFailover(const ProxyFailureReport& report, RowId in_use, bool failover_on) {
  FailoverDecision d;
  if (report.row == kNoRow) return d;
  switch (report.source) {
    case FailureSource::kRelay:
      d.mark_row = true;
      d.status = std::string(kRelayFailedStatus);
      break;
    case FailureSource::kExitCheck:
      d.mark_row = failover_on;
      d.status = std::string(kExitCheckFailedStatus);
      break;
    case FailureSource::kVerification:
    case FailureSource::kExpired:
      break;
  }
  if (d.mark_row) d.result = report.reason;
  d.move_on = (failover_on || report.source == FailureSource::kExpired) && report.row == in_use;
  return d;
}

}  // namespace core
