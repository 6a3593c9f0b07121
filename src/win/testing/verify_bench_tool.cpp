// relaymoth-verify-bench.exe: verifies a farm of local proxies (scripts/verify-bench.sh
// starts it and passes RELAYMOTH_BENCH_FARM = "port,kind;port,kind;...") with the
// real scheduler, connect gate (RELAYMOTH_BENCH_GATE=0 leaves it out), thread pool
// and WinInet, and reports the wall time against the bound (sum of the per-row
// times / workers), how long black-holed proxies took to be given up, the UI
// thread's message latency and the peak working set. With RELAYMOTH_BENCH_APP=1
// the run goes through the program's own services with the main dialog open and
// showing the list, as a user who pressed "验证全部" sees it. With
// RELAYMOTH_BENCH_TYPE=SOCKS5 the rows are typed SOCKS5 and checked in that
// protocol through the verification's relay, as the program checks such rows.
// A measuring tool, not a test.
#include "win/platform/winsock_connect_prober.h"

#include <windows.h>
// After windows.h, which they build on.
#include <commctrl.h>
#define PSAPI_VERSION 2
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/base/codepage.h"
#include "core/base/profile_store.h"
#include "core/sysproxy/exit_check.h"
#include "core/verify/verify_scheduler.h"
#include "win/app/app_services.h"
#include "win/app/download_job.h"
#include "win/app/proxy_list_dialog.h"
#include "win/platform/app_messages.h"
#include "win/platform/exit_fetcher.h"
#include "win/platform/message_window.h"
#include "win/platform/relay_engine.h"
#include "win/platform/relayed_site_fetcher.h"
#include "win/platform/run_settings_platform.h"
#include "win/platform/unique_handle.h"
#include "win/platform/verify_worker_pool.h"
#include "win/platform/verify_worker_timers.h"
#include "win/platform/win_clock.h"
#include "win/platform/wininet_site_fetcher.h"
#include "win/testing/scripted_prompt.h"
#include "win/ui/window_base.h"

namespace {

constexpr UINT kProbe = win::WM_TEST_FIRST;
constexpr DWORD kProbeEveryMs = 5;

double NowMs() { return win::PreciseMs(); }

// When each thing under way began, by its key.
template <typename Key>
class StartTimes {
 public:
  void Begin(Key key) { began_[key] = NowMs(); }
  // Adds the time since Begin to `into`, unless `key` is not under way.
  void End(Key key, std::vector<double>& into) {
    auto it = began_.find(key);
    if (it == began_.end()) return;
    into.push_back(NowMs() - it->second);
    began_.erase(it);
  }

 private:
  std::map<Key, double> began_;
};

// Times each hand-out from Start to its report (or abandonment).
class TimingPool final : public core::WorkerPool, private core::WorkerReportTarget {
 public:
  explicit TimingPool(std::unique_ptr<win::VerifyWorkerPool> pool)
      : owned_(std::move(pool)), pool_(*owned_) {}
  win::VerifyWorkerPool& pool() { return pool_; }
  void SetReportTarget(core::WorkerReportTarget* target) override {
    target_ = target;
    pool_.SetReportTarget(target ? this : nullptr);
  }
  core::StartResult Start(int slot, uint64_t generation, core::VerifyRun run) override {
    double t0 = NowMs();
    started_.Begin(slot);
    core::StartResult result = pool_.Start(slot, generation, std::move(run));
    start_ms = std::max(start_ms, NowMs() - t0);
    return result;
  }
  std::vector<core::SiteOutcome> Abandon(int slot) override {
    Finish(slot);
    return pool_.Abandon(slot);
  }
  void ReleaseAll() override { pool_.ReleaseAll(); }
  void ReapEnded() override { pool_.ReapEnded(); }
  void Finish(int slot) { started_.End(slot, durations); }
  std::vector<double> durations;
  double start_ms = 0;             // the longest WorkerPool::Start call
  std::vector<double> handler_ms;  // how long each report took the UI thread

 private:
  void OnWorkerDone(int slot, uint64_t generation,
                    const std::vector<core::SiteOutcome>& outcomes) override {
    double t0 = NowMs();
    Finish(slot);
    if (target_) target_->OnWorkerDone(slot, generation, outcomes);
    handler_ms.push_back(NowMs() - t0);
  }
  void OnWorkerTypeDetected(int slot, uint64_t generation, core::ProxyProtocol protocol) override {
    if (target_) target_->OnWorkerTypeDetected(slot, generation, protocol);
  }

  core::WorkerReportTarget* target_ = nullptr;
  std::unique_ptr<win::VerifyWorkerPool> owned_;
  win::VerifyWorkerPool& pool_;
  StartTimes<int> started_;
};

// Times each probe from its start to its outcome or to being given up.
class TimingProber final : public core::ConnectProber, private core::ProbeReportTarget {
 public:
  explicit TimingProber(std::unique_ptr<win::WinsockConnectProber> prober)
      : owned_(std::move(prober)), prober_(*owned_) {}
  win::WinsockConnectProber& prober() { return prober_; }
  void SetReportTarget(core::ProbeReportTarget* target) override {
    target_ = target;
    prober_.SetReportTarget(target ? this : nullptr);
  }
  core::ProbeStart Start(uint64_t id, std::string_view host, uint16_t port) override {
    started_.Begin(id);
    return prober_.Start(id, host, port);
  }
  void Cancel(uint64_t id) override {
    started_.End(id, given_up);
    prober_.Cancel(id);
  }
  void CancelAll() override { prober_.CancelAll(); }
  std::vector<double> given_up;  // probes that reached the connect time-out
  std::vector<double> answered;  // probes that connected or were refused

 private:
  void OnProbeConnected(uint64_t id) override {
    started_.End(id, answered);
    if (target_) target_->OnProbeConnected(id);
  }
  void OnProbeRefused(uint64_t id) override {
    started_.End(id, answered);
    if (target_) target_->OnProbeRefused(id);
  }

  core::ProbeReportTarget* target_ = nullptr;
  std::unique_ptr<win::WinsockConnectProber> owned_;
  win::WinsockConnectProber& prober_;
  StartTimes<uint64_t> started_;
};

class NullHost final : public core::VerifyHost {
 public:
  void ShowMessage(std::string_view text, std::string_view) override {
    std::printf("message: %.*s\n", int(text.size()), text.data());
  }
  void SetRunControls(bool) override {}
  void ClearSystemProxy() override {}
  void UseProxy(core::RowId) override {}
  bool ProxyInUse() const override { return false; }
  void ShowRow(size_t) override {}
  void RefreshCaption() override {}
};

struct ProbeThread {
  HWND target;
  volatile LONG stop = 0;
  static DWORD WINAPI Main(void* param) {
    auto* self = static_cast<ProbeThread*>(param);
    while (!self->stop) {
      double now = NowMs();
      LPARAM packed;
      std::memcpy(&packed, &now, sizeof(now));
      PostMessageW(self->target, kProbe, 0, packed);
      Sleep(kProbeEveryMs);
    }
    return 0;
  }
};

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

}  // namespace

int wmain() {
  const char* farm = std::getenv("RELAYMOTH_BENCH_FARM");
  const char* rows_text = std::getenv("RELAYMOTH_BENCH_ROWS");
  const char* threads_text = std::getenv("RELAYMOTH_BENCH_THREADS");
  if (farm == nullptr) {
    std::printf("RELAYMOTH_BENCH_FARM is not set (run scripts/verify-bench.sh)\n");
    return 2;
  }
  std::vector<std::pair<std::string, std::string>> proxies;  // port, kind
  std::string text = farm;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    std::string entry = text.substr(start, end - start);
    size_t comma = entry.find(',');
    if (comma != std::string::npos)
      proxies.emplace_back(entry.substr(0, comma), entry.substr(comma + 1));
    start = end + 1;
  }
  size_t rows = rows_text ? size_t(std::atoi(rows_text)) : proxies.size();
  rows = std::min(rows, proxies.size());
  int threads = threads_text ? std::atoi(threads_text) : 200;
  const char* gate_text = std::getenv("RELAYMOTH_BENCH_GATE");
  bool gated = gate_text == nullptr || std::atoi(gate_text) != 0;
  const char* app_text = std::getenv("RELAYMOTH_BENCH_APP");
  bool app_mode = app_text != nullptr && std::atoi(app_text) != 0;

  // The UI thread's window: the latency probes.
  core::VerifyScheduler* scheduler = nullptr;
  std::vector<double> latencies;
  std::vector<double> received_at;  // when each probe arrived
  win::MessageWindow window([&](UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == kProbe) {
      double sent = 0;
      static_assert(sizeof(double) == sizeof(LPARAM));
      std::memcpy(&sent, &lparam, sizeof(sent));
      latencies.push_back(NowMs() - sent);
      received_at.push_back(NowMs());
      return true;
    }
    return false;
  });
  if (!window.Create(L"RelaymothVerifyBench")) return 3;
  const char* type_text = std::getenv("RELAYMOTH_BENCH_TYPE");
  std::string row_suffix = type_text && *type_text ? std::string("@") + type_text : "";
  auto clock = std::make_shared<win::WinClock>();
  // The program's fetchers: rows in a protocol WinInet cannot speak go through
  // ports of a relay of the verification's own, the others to WinInet as they are.
  auto relay = std::make_shared<win::RelayEngine>();
  std::string relay_error;
  if (!relay->Start(&relay_error)) {
    std::printf("the verification's relay did not start: %s\n", relay_error.c_str());
    return 3;
  }
  auto made_pool = std::make_unique<win::VerifyWorkerPool>(
      [relay] {
        return std::make_unique<win::RelayedSiteFetcher>(
            std::make_unique<win::WinInetSiteFetcher>(), relay);
      },
      clock);
  if (!made_pool->Create()) return 3;
  auto made_timing = std::make_unique<TimingPool>(std::move(made_pool));
  TimingPool& timing = *made_timing;
  auto made_prober = std::make_unique<TimingProber>(std::make_unique<win::WinsockConnectProber>());
  TimingProber& timed_prober = *made_prober;
  if (gated && !timed_prober.prober().Create()) return 3;
  core::VerifySettings settings;
  settings.threads = threads;
  const char* detect_text = std::getenv("RELAYMOTH_BENCH_DETECT");
  settings.detect_untyped_type = detect_text == nullptr || std::atoi(detect_text) != 0;
  settings.sites = {{"http://127.0.0.1:9/verify.html", "RELAYMOTH-VERIFY-7731", true}};
  std::map<std::string, int> kinds;
  for (size_t i = 0; i < rows; ++i) ++kinds[proxies[i].second];

  // Without the program: the scheduler alone, on timers of the bench's own.
  std::unique_ptr<win::VerifySchedulerTimers> timers;
  core::ProxyList plain_list;
  NullHost host;
  std::unique_ptr<core::VerifyScheduler> plain;
  // With the program: its services (with a profile in memory, the system proxy
  // in a key of the bench's own, no exit check) and its main dialog.
  core::MemoryProfileStore profile;
  win::ScriptedPrompt prompt;
  core::GbkCodec codec;
  win::RegistryRunKeyStore run_key("Software\\Quillworks\\RelaymothBench\\Run");
  win::ShellDesktopShortcuts shortcuts;
  std::unique_ptr<win::AppServices> app;
  std::unique_ptr<win::ProxyListDialog> dialog;
  if (app_mode) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    core::WriteStatus prepared =
        profile.WriteInt(core::kExitCheckSection, core::kExitCheckEnabledKey, 0);
    // A best proxy an earlier run left in the bench's key would be read back as a row.
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Quillworks\\RelaymothBench");
    // The dialogs load the verify settings from the profile as they open.
    prepared &= core::SaveVerifySettings(settings, profile);
    if (!prepared) {
      std::fprintf(stderr, "cannot prepare the bench's profile: %s\n", prepared.reason().c_str());
      return 2;
    }
    win::AppParts parts;
    parts.platform = {
        GetModuleHandleW(nullptr), &profile, &prompt, &codec, &run_key, &shortcuts, ""};
    parts.verify.clock = clock;
    parts.verify.pool = std::move(made_timing);
    if (gated) parts.verify.prober = std::move(made_prober);
    parts.proxy_place.key = "Software\\Quillworks\\RelaymothBench\\Internet Settings";
    parts.cleanup = [] {};
    parts.make_exit_fetcher = [](win::PostingExitFetcher::Report report, uint32_t deadline_ms) {
      return std::make_unique<win::WinInetExitFetcher>(std::move(report), deadline_ms);
    };
    parts.download_job = win::MakeWinInetDownloadJob();
    app = std::make_unique<win::AppServices>(std::move(parts));
    app->Start();
    for (size_t i = 0; i < rows; ++i) {
      app->switcher().list().AddProxy("127.0.0.1:" + proxies[i].first + row_suffix, false);
    }
    dialog = std::make_unique<win::ProxyListDialog>(*app);
    if (!dialog->Create(nullptr)) return 3;
    dialog->Show();
    scheduler = &app->verify().scheduler();
  } else {
    timers = std::make_unique<win::VerifySchedulerTimers>();
    for (size_t i = 0; i < rows; ++i) {
      plain_list.AddProxy("127.0.0.1:" + proxies[i].first + row_suffix, false);
    }
    plain = std::make_unique<core::VerifyScheduler>(plain_list, settings, timing, *timers, host,
                                                    *clock, core::kWatchdogPerSiteMs,
                                                    gated ? &timed_prober : nullptr);
    scheduler = plain.get();
    timers->Attach(scheduler);
  }
  const core::ProxyList& list = app_mode ? app->switcher().list() : plain_list;
  std::vector<double>& handler_ms = timing.handler_ms;

  ProbeThread probe{window.hwnd()};
  win::UniqueKernelHandle probe_thread(
      CreateThread(nullptr, 0, &ProbeThread::Main, &probe, 0, nullptr));
  double t0 = NowMs();
  scheduler->StartVerifyAll();
  double start_call = NowMs() - t0;
  MSG msg;
  struct Dispatched {
    double begin, end;
    UINT msg;
  };
  std::vector<Dispatched> dispatched;
  dispatched.reserve(1 << 20);
  while (scheduler->running() && GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    double b = NowMs();
    DispatchMessageW(&msg);
    dispatched.push_back({b, NowMs(), msg.message});
  }
  double wall = NowMs() - t0;
  InterlockedExchange(&probe.stop, 1);
  WaitForSingleObject(probe_thread.get(), INFINITE);  // the probe, not a worker

  double sum = 0;
  for (double d : timing.durations) sum += d;
  for (double d : timed_prober.answered) sum += d;
  for (double d : timed_prober.given_up) sum += d;
  PROCESS_MEMORY_COUNTERS memory{};
  memory.cb = sizeof(memory);
  K32GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
  int workers = std::min<int>(threads, int(rows));
  double bound = sum / workers;
  double longest = timing.durations.empty()
                       ? 0
                       : *std::max_element(timing.durations.begin(), timing.durations.end());
  std::printf("rows %zu of %zu farm ports (", list.size(), rows);
  for (auto& [kind, n] : kinds) std::printf(" %s %d", kind.c_str(), n);
  std::printf(" ), %s rows, workers %d, connect gate %s%s\n",
              row_suffix.empty() ? "untyped" : row_suffix.c_str() + 1, workers,
              gated ? "on" : "off",
              app_mode ? ", through the program's services with the main dialog open" : "");
  std::printf("finished rows %d, usable %d\n", scheduler->doneCount(), scheduler->usableCount());
  std::printf("wall time            %8.0f ms\n", wall);
  std::printf("bound (sum/workers)  %8.0f ms  (sum of row times %.0f ms, longest row %.0f ms)\n",
              bound, sum, longest);
  std::printf("wall / bound         %8.2f\n", bound > 0 ? wall / bound : 0);
  std::printf(
      "probes               %zu answered (longest %.0f ms), %zu given up at the "
      "connect time-out (longest %.0f ms)\n",
      timed_prober.answered.size(), Percentile(timed_prober.answered, 1.0),
      timed_prober.given_up.size(), Percentile(timed_prober.given_up, 1.0));
  std::printf("worker hand-outs     %zu (longest %.0f ms)\n", timing.durations.size(),
              Percentile(timing.durations, 1.0));
  std::printf("peak working set     %8.1f MiB\n", double(memory.PeakWorkingSetSize) / 1048576.0);
  std::printf("UI message latency   p50 %.1f ms, p99 %.1f ms, max %.1f ms (%zu probes)\n",
              Percentile(latencies, 0.5), Percentile(latencies, 0.99), Percentile(latencies, 1.0),
              latencies.size());
  std::printf("start call           %8.1f ms (hands out the first rows, creates the threads)\n",
              start_call);
  std::printf("longest Start        %8.2f ms\n", timing.start_ms);
  // The worst stalls and when they ended, from the start of the run.
  std::vector<size_t> order(latencies.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](size_t a, size_t b) { return latencies[a] > latencies[b]; });
  std::printf("worst stalls        ");
  for (size_t i = 0; i < std::min<size_t>(5, order.size()); ++i) {
    std::printf(" %.0f ms at %.0f ms;", latencies[order[i]], received_at[order[i]] - t0);
  }
  std::printf("\n");
  // What the UI thread did during the worst stall: time in handlers by message.
  if (!order.empty()) {
    double end = received_at[order[0]];
    double begin = end - latencies[order[0]];
    std::map<UINT, std::pair<int, double>> by_msg;
    double busy = 0;
    for (const Dispatched& d : dispatched) {
      if (d.end < begin || d.begin > end) continue;
      double ms = std::min(d.end, end) - std::max(d.begin, begin);
      by_msg[d.msg].first++;
      by_msg[d.msg].second += ms;
      busy += ms;
    }
    std::printf("worst stall: UI thread busy %.0f of %.0f ms:", busy, end - begin);
    for (auto& [m, v] : by_msg) std::printf(" msg 0x%x x%d %.0f ms;", m, v.first, v.second);
    std::printf("\n");
  }
  // The longest messages the UI thread handled, and when.
  std::vector<const Dispatched*> slowest;
  for (const Dispatched& d : dispatched) slowest.push_back(&d);
  std::sort(slowest.begin(), slowest.end(), [](const Dispatched* a, const Dispatched* b) {
    return a->end - a->begin > b->end - b->begin;
  });
  std::printf("longest messages    ");
  for (size_t i = 0; i < std::min<size_t>(8, slowest.size()); ++i) {
    std::printf(" 0x%x %.0f ms at %.0f ms;", slowest[i]->msg, slowest[i]->end - slowest[i]->begin,
                slowest[i]->begin - t0);
  }
  std::printf("\n");
  for (const auto& shown : prompt.shown) std::printf("message: %s\n", shown.text.c_str());
  if (list.size() > 0) {
    std::map<std::string, int> statuses;
    for (size_t i = 0; i < list.size(); ++i)
      ++statuses[std::string(list.row(i).status) + " " + std::string(list.row(i).result)];
    std::printf("row statuses        ");
    for (auto& [status, n] : statuses) std::printf(" %s %d;", status.c_str(), n);
    std::printf("\n");
  }
  std::printf("done handler         p99 %.2f ms, max %.2f ms\n", Percentile(handler_ms, 0.99),
              Percentile(handler_ms, 1.0));
  return 0;
}
