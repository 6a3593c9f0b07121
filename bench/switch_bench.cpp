// What switching the proxy in use costs on the UI thread, by list size: the
// row's value, the system setting's plan and the relay's route. Nothing here
// should grow with the list.
#include <benchmark/benchmark.h>

#include <string>

#include "core/proxylist/proxy_list.h"
#include "core/sysproxy/proxy_in_use.h"
#include "core/sysproxy/rotation.h"

namespace {

void BM_SwitchToRow(benchmark::State& state) {
  core::ProxyList list;
  const size_t rows = size_t(state.range(0));
  for (size_t i = 0; i < rows; ++i) {
    std::string line = "10." + std::to_string(i >> 16) + "." + std::to_string((i >> 8) & 255) +
                       "." + std::to_string(i & 255) + ":" + std::to_string(1 + i % 60000) +
                       (i % 3 == 0 ? "@SOCKS5" : "");
    list.AddProxy(line, false);
  }
  // The row in the middle, after a sort moved every row.
  core::RowId chosen = list.IdAt(rows / 2);
  list.SortListColumn(core::kColPort, 1);
  for (auto _ : state) {
    core::ProxyInUse in_use = core::ProxyInUseOfRow(list, *list.IndexOf(chosen));
    core::SystemProxyChange plan = core::PlanSystemProxyOf(in_use, {8118});
    std::vector<core::RelayCandidate> route = core::RelayCandidatesFor(list, in_use);
    benchmark::DoNotOptimize(plan);
    benchmark::DoNotOptimize(route);
  }
}
BENCHMARK(BM_SwitchToRow)->Arg(10)->Arg(1000000)->Unit(benchmark::kMicrosecond);

}  // namespace

namespace {

// The rotation's pool, made again after each change to the list while
// "每个连接换一个IP" is in use (the relay waits 500 ms for changes to settle).
void BM_RotationPool(benchmark::State& state) {
  core::ProxyList list;
  const size_t rows = size_t(state.range(0));
  for (size_t i = 0; i < rows; ++i) {
    list.AddProxy("10." + std::to_string(i >> 16) + "." + std::to_string((i >> 8) & 255) + "." +
                      std::to_string(i & 255) + ":" + std::to_string(1 + i % 60000),
                  false);
    if (i % 2 == 0) list.SetVerifyResult(i, "", "", int32_t(1 + i % 5000));
  }
  for (auto _ : state) {
    std::vector<core::RelayCandidate> pool = core::RotationPool(list, {}, {8118});
    benchmark::DoNotOptimize(pool);
  }
}
BENCHMARK(BM_RotationPool)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace
