// `relaymoth-cli verify`: checks every proxy of the inputs through itself against
// the sites, on the checker's event loop, and writes the results best first.
// Exit status 0 when a proxy works, 1 when none does, 2 on bad usage or input.
// Its steps are shared with `serve`, which verifies its pool the same way.
// Linux only.
#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "cli/checker/engine.h"
#include "cli/checker/verify_options.h"
#include "core/net/upstream.h"
#include "core/verify/proxy_check.h"

namespace core {
class ProxyList;
class TlsFactory;
}  // namespace core

namespace cli {

struct CliEnv;

int RunVerify(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
              std::ostream& err, const CliEnv& env);

// Reads every input of `o` into `out` (files, list URLs with their mirrors, "-"
// for `in`), rows the list takes as the same once; *skipped_lines counts lines
// that were not proxies. False, having said why on `err`, when an input cannot
// be read at all.
bool ReadInputs(const VerifyOptions& o, std::istream& in, core::TlsFactory* tls, Resolver& resolver,
                volatile std::sig_atomic_t* stop, core::ProxyList* out, int* skipped_lines,
                std::ostream& err);

// The addresses of this machine's interfaces.
std::vector<std::string> MachineAddresses();

// One row of the list as the proxy it is checked through.
struct RowToCheck {
  size_t list_row = 0;
  core::UpstreamProxy proxy;
  bool detect = false;
  std::string location;
};

// The rows of `list` in the shard and the country of `o` that some protocol can
// check, located; host names of proxies in *proxy_hosts, for Resolver::Prime.
std::vector<RowToCheck> RowsToCheck(const VerifyOptions& o, const core::ProxyList& list,
                                    const CliEnv& env, std::vector<std::string>* proxy_hosts,
                                    std::ostream& err);

// What every row is checked against: the sites (the built-in one when `o` names
// none, which is then added to `o`), the judge and the echo page.
core::CheckPlan MakeCheckPlan(VerifyOptions& o, core::TlsFactory* tls, Resolver& resolver,
                              volatile std::sig_atomic_t* stop, std::ostream& err);

// Checks `rows` on one event loop, `in_flight` at once; `done` gets each row's
// report by its index in `rows`, `on_tick` the time and the rows begun so far.
// False when stopped or when the loop could not be set up (`error`).
bool CheckRows(const std::vector<RowToCheck>& rows, const core::CheckPlan& plan, int in_flight,
               Resolver& resolver, volatile std::sig_atomic_t* stop,
               const std::function<void(uint32_t now, size_t begun)>& on_tick,
               const std::function<void(size_t index, const core::CheckReport&)>& done,
               std::string* error);

}  // namespace cli
