// Report targets that hand each report to a function: for tests and benchmarks
// that listen to a worker pool or a connect prober without a scheduler.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "core/verify/connect_gate.h"
#include "core/verify/verify_scheduler.h"

namespace win {

class WorkerReportFunction final : public core::WorkerReportTarget {
 public:
  using Function =
      std::function<void(int slot, uint64_t generation, const std::vector<core::SiteOutcome>&)>;
  explicit WorkerReportFunction(Function f = {}) : f_(std::move(f)) {}
  void Set(Function f) { f_ = std::move(f); }
  void OnWorkerDone(int slot, uint64_t generation,
                    const std::vector<core::SiteOutcome>& outcomes) override {
    if (f_) f_(slot, generation, outcomes);
  }
  void OnWorkerTypeDetected(int slot, uint64_t generation, core::ProxyProtocol protocol) override {
    if (detected_) detected_(slot, generation, protocol);
  }
  void SetDetected(std::function<void(int, uint64_t, core::ProxyProtocol)> f) {
    detected_ = std::move(f);
  }

 private:
  Function f_;
  std::function<void(int, uint64_t, core::ProxyProtocol)> detected_;
};

class ProbeReportFunction final : public core::ProbeReportTarget {
 public:
  using Function = std::function<void(uint64_t id, bool connected)>;
  explicit ProbeReportFunction(Function f = {}) : f_(std::move(f)) {}
  void Set(Function f) { f_ = std::move(f); }
  void OnProbeConnected(uint64_t id) override {
    if (f_) f_(id, true);
  }
  void OnProbeRefused(uint64_t id) override {
    if (f_) f_(id, false);
  }

 private:
  Function f_;
};

}  // namespace win
