#include "cli/serve/serve_command.h"

#include <arpa/inet.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <ostream>
#include <sstream>

#include "cli/checker/engine.h"
#include "cli/checker/tls_openssl.h"
#include "cli/checker/verify_command.h"
#include "cli/cli_env.h"
#include "cli/serve/serve_loop.h"
#include "core/base/file_path.h"
#include "core/base/text.h"
#include "core/net/type_detection.h"
#include "core/proxylist/proxy_list.h"
#include "core/verify/row_result.h"

namespace cli {
namespace {

uint64_t MonotonicMs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return uint64_t(t.tv_sec) * 1000 + uint64_t(t.tv_nsec) / 1000000;
}

// The IP literal of an address as connect() takes it.
std::string Literal(const sockaddr_storage& a) {
  char text[INET6_ADDRSTRLEN] = {};
  if (a.ss_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&a)->sin_addr, text, sizeof(text));
  } else if (a.ss_family == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&a)->sin6_addr, text, sizeof(text));
  }
  return text;
}

// Reads the lists afresh (list URLs downloaded again), checks this shard's rows
// in the country and places asked for, and says which may carry connections.
VerifiedPool VerifyLists(const ServeOptions& o, const CliEnv& env,
                         const std::vector<std::string>& own_addresses,
                         volatile std::sig_atomic_t* stop) {
  VerifiedPool out;
  out.read = false;
  std::ostringstream say;
  VerifyOptions v = o.verify;
  Resolver resolver;
  OpensslTls tls(v.ca_file);
  core::ProxyList list;
  int skipped = 0;
  std::istringstream no_input;
  if (!tls.ok() || !ReadInputs(v, no_input, &tls, resolver, stop, &list, &skipped, say)) {
    out.messages = say.str() + "the lists could not be read; the pool stays as it was\n";
    return out;
  }
  std::vector<std::string> hosts;
  std::vector<RowToCheck> rows = RowsToCheck(v, list, env, &hosts, say);
  // A row naming the relay itself is never checked: the check would go
  // through the relay.
  std::vector<uint16_t> own_ports = {o.listen.port};
  if (!o.status_off) own_ports.push_back(o.status.port);
  std::vector<PoolRow> self;
  rows.erase(std::remove_if(rows.begin(), rows.end(),
                            [&](const RowToCheck& r) {
                              if (!core::NamesOwnPort(r.proxy.proxy, own_ports)) return false;
                              PoolRow p;
                              p.candidate.label = list.RowHostPort(int64_t(r.list_row));
                              p.type = std::string(list.row(r.list_row).type);
                              p.reason = "the row names this relay itself";
                              self.push_back(std::move(p));
                              return true;
                            }),
             rows.end());
  resolver.Prime(hosts, 16);
  core::CheckPlan plan = MakeCheckPlan(v, &tls, resolver, stop, say);
  std::vector<core::CheckReport> reports(rows.size());
  std::vector<uint64_t> checked(rows.size());
  std::string error;
  bool complete = CheckRows(
      rows, plan, v.in_flight, resolver, stop, nullptr,
      [&](size_t i, const core::CheckReport& report) {
        reports[i] = report;
        checked[i] = MonotonicMs();
      },
      &error);
  if (!complete) {
    out.messages = say.str() + (error.empty() ? "verification stopped" : error) + "\n";
    return out;
  }
  for (size_t i = 0; i < rows.size(); ++i) {
    const RowToCheck& r = rows[i];
    const core::CheckReport& report = reports[i];
    PoolRow p;
    p.candidate.upstream = r.proxy;
    p.candidate.label = list.RowHostPort(int64_t(r.list_row));
    p.type = std::string(list.row(r.list_row).type);
    if (r.detect) {
      p.candidate.upstream.protocol = report.protocol;
      p.type = report.protocol_known ? std::string(core::TypeWordOf(report.protocol)) : "";
    }
    p.checked_ms = checked[i];
    core::RowResult result = core::ComputeRowResult(report.outcomes, false);
    p.score = result.score;
    p.state = result.usable ? RowState::kUsable : RowState::kFailed;
    for (const std::string& why : report.reasons) {
      if (p.reason.empty()) p.reason = why;
    }
    // Connections go to the address the check used, so a name is never looked
    // up on the relay's thread; and never to the relay itself, by any name.
    sockaddr_storage a{};
    socklen_t len = 0;
    core::NetTarget& to = p.candidate.upstream.proxy;
    if (!resolver.Resolve(to.host, to.port, &a, &len)) {
      p.state = RowState::kFailed;
      p.reason = "the proxy's name does not resolve";
    } else {
      to.host = Literal(a);
      bool own_port = std::find(own_ports.begin(), own_ports.end(), to.port) != own_ports.end();
      bool here =
          core::IsLoopbackHost(to.host) || to.host == o.listen.host ||
          std::find(own_addresses.begin(), own_addresses.end(), to.host) != own_addresses.end();
      if (own_port && here) {
        p.state = RowState::kFailed;
        p.score = 0;
        p.reason = "the row names this relay itself";
      }
    }
    out.rows.push_back(std::move(p));
  }
  for (PoolRow& p : self) out.rows.push_back(std::move(p));
  out.read = true;
  out.messages = say.str();
  if (skipped > 0) out.messages += core::Format("%d lines were not proxies\n", skipped);
  return out;
}

// SIGHUP, SIGTERM and SIGINT go to the loop's signalfd: blocked in every thread
// for the command's length.
class BlockedSignals {
 public:
  BlockedSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGHUP, SIGTERM, SIGINT}) sigaddset(&set, s);
    pthread_sigmask(SIG_BLOCK, &set, &old_);
  }
  ~BlockedSignals() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }

 private:
  sigset_t old_;
};

}  // namespace

int RunServe(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
             const CliEnv& env) {
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      out << kServeHelp;
      return 0;
    }
  }
  ServeOptions o;
  std::string problem;
  if (!ParseServeArgs(args, &o, &problem) ||
      !ResolveCountryCode(&o.verify, kIsoCountriesJson, kIsoCountriesZhMo, &problem)) {
    err << "relaymoth-cli: " << problem << "\n";
    return 2;
  }
  // A list file that is not there is a mistake to say at once; a list URL may
  // answer later, and is tried at every verification.
  for (const std::string& input : o.verify.inputs) {
    if (core::StartsWithIgnoreAsciiCase(input, "http://") ||
        core::StartsWithIgnoreAsciiCase(input, "https://")) {
      continue;
    }
    if (!std::ifstream(core::PathFromUtf8(input))) {
      err << "relaymoth-cli: cannot read " << input << ": " << std::strerror(errno) << "\n";
      return 2;
    }
  }
  OpensslTls tls(o.verify.ca_file);
  if (!tls.ok()) {
    err << "relaymoth-cli: TLS: " << tls.error() << "\n";
    return 2;
  }
  RaiseFileLimit();
  BlockedSignals blocked;
  std::vector<std::string> own_addresses = MachineAddresses();
  Verifier verify = [&](volatile std::sig_atomic_t* stop) {
    return VerifyLists(o, env, own_addresses, stop);
  };
  return RunServeLoop(o, verify, err);
}

}  // namespace cli
