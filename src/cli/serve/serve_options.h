// The `serve` command's options: where it listens, who may use it, how it picks
// an exit for each connection, how often its pool is verified again, and the
// status page. Everything about the lists and their checks (inputs, --site,
// --country, --area, --shard, time-outs, --type, --db, --ca-file) is read as `verify`
// reads it. Pure; Linux only, like the command.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/checker/verify_options.h"
#include "core/net/net_target.h"

namespace cli {

enum class RotateMode {
  kConnection,  // every connection takes the next usable row, best score first
  kInterval,    // one row for every connection, moving on every `rotate_seconds`
  kHostSticky,  // a site keeps its row for `sticky_minutes`
};

inline constexpr uint16_t kDefaultServePort = 8899;

struct ServeOptions {
  core::NetTarget listen{"127.0.0.1", kDefaultServePort};  // an IP literal
  std::optional<core::ProxyCredentials> auth;
  RotateMode rotate = RotateMode::kConnection;
  uint32_t rotate_seconds = 0;
  uint32_t sticky_minutes = 0;
  uint64_t verify_every_ms = 30 * 60 * 1000;  // 0: only at the start and on SIGHUP
  // The status page, on loopback only; port 0 with `status_off` unset: the
  // listening port + 1.
  core::NetTarget status{"127.0.0.1", 0};
  bool status_off = false;
  uint32_t drain_ms = 10000;  // how long open tunnels may go on after SIGTERM
  VerifyOptions verify;       // the lists and how their rows are checked
};

// Reads the options after "serve". False with *error set for bad usage (a
// listening address other than loopback without --auth among them).
bool ParseServeArgs(const std::vector<std::string>& args, ServeOptions* out, std::string* error);

extern const char kServeHelp[];

}  // namespace cli
