// What saving the list as it changes costs the UI thread: the snapshot each
// save starts with, one step of the staged save, and a whole save (every step)
// into a profile held in memory, for lists of 100 000 and 1 000 000 rows with
// locations, ticks and a few log-ins. The registry's own cost per value is
// measured under Wine by relaymoth-list-bench.exe.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "core/base/profile_store.h"
#include "core/base/text.h"
#include "core/proxylist/list_profile.h"
#include "core/proxylist/proxy_list.h"

namespace {

// Seals nothing: the cost of the operating system's seal is not the list's.
class PlainCodec final : public core::SecretCodec {
 public:
  std::optional<std::string> Protect(std::string_view plain) override { return std::string(plain); }
  std::optional<std::string> Unprotect(std::string_view sealed) override {
    return std::string(sealed);
  }
};

// One list per size, built once: every 10th row ticked, every 1000th with a log-in.
const core::ProxyList& ListOf(int64_t rows) {
  static std::map<int64_t, std::unique_ptr<core::ProxyList>> lists;
  std::unique_ptr<core::ProxyList>& list = lists[rows];
  if (!list) {
    list = std::make_unique<core::ProxyList>();
    core::ProxyList::Batch batch(*list);
    for (int64_t i = 0; i < rows; ++i) {
      std::string host =
          core::Format("10.%d.%d.%d", int(i >> 16 & 255), int(i >> 8 & 255), int(i & 255));
      std::string line =
          i % 1000 == 0
              ? "socks5://user" + std::to_string(i) + ":pw@" + host + ":1080"
              : host + ":" + std::to_string(1000 + i % 50000) + "@HTTP$中国 广东广州 电信";
      list->AddProxy(line, i % 10 == 0);
    }
  }
  return *list;
}

void BM_ListSnapshot(benchmark::State& state) {
  const core::ProxyList& list = ListOf(state.range(0));
  for (auto _ : state) {
    std::unique_ptr<const core::ProxyList> snapshot = list.Snapshot();
    benchmark::DoNotOptimize(snapshot.get());
  }
}
BENCHMARK(BM_ListSnapshot)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

// One step of 16 calls to the store, as the service makes them between looks
// at its 15 ms budget.
void BM_ListSaveStep16(benchmark::State& state) {
  const core::ProxyList& list = ListOf(state.range(0));
  PlainCodec codec;
  core::MemoryProfileStore store;
  auto save = std::make_unique<core::ListSave>(list, store, &codec);
  for (auto _ : state) {
    if (save->Step(16)) {
      state.PauseTiming();
      save = std::make_unique<core::ListSave>(list, store, &codec);
      state.ResumeTiming();
    }
  }
}
BENCHMARK(BM_ListSaveStep16)->Arg(100'000)->Unit(benchmark::kMicrosecond);

// Every step of one save (staged copy, usual copy, tidy-up) into memory.
void BM_ListSaveWhole(benchmark::State& state) {
  const core::ProxyList& list = ListOf(state.range(0));
  PlainCodec codec;
  for (auto _ : state) {
    core::MemoryProfileStore store;
    core::WriteStatus saved = core::SaveListSection(list, store, &codec);
    benchmark::DoNotOptimize(saved.ok());
  }
}
BENCHMARK(BM_ListSaveWhole)->Arg(100'000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
