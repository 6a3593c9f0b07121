#include "cli/serve/serve_options.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

#include "core/base/text.h"

namespace cli {
namespace {

// A positive decimal number up to `max`; false for anything else.
bool Number(const std::string& text, double max, double* value) {
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(v >= 0) || v > max) return false;
  *value = v;
  return true;
}

// "ADDR:PORT", "[V6]:PORT" or a bare port (on 127.0.0.1); the address must be
// an IP literal or "localhost", since it is bound.
bool Address(const std::string& text, core::NetTarget* out) {
  core::NetTarget t;
  if (!text.empty() && core::LeadingDigits(text).size() == text.size()) {
    return core::ParseAuthority("127.0.0.1:" + text, 0, out);
  }
  if (!core::ParseAuthority(text, 0, &t)) return false;
  if (core::EqualsIgnoreAsciiCase(t.host, "localhost")) t.host = "127.0.0.1";
  core::HostKind kind = core::ClassifyHost(t.host);
  if (kind != core::HostKind::kIpv4 && kind != core::HostKind::kIpv6) return false;
  *out = t;
  return true;
}

// Whether binding `host` (an IP literal) lets in only this machine: 127/8 and
// ::1 (and ::ffff:127/104), never the any-address 0.0.0.0 or ::.
bool LoopbackOnly(const std::string& host) {
  std::array<uint8_t, 16> b{};
  switch (core::ClassifyHost(host, &b)) {
    case core::HostKind::kIpv4:
      return b[0] == 127;
    case core::HostKind::kIpv6: {
      bool zeros = std::all_of(b.begin(), b.begin() + 10, [](uint8_t x) { return x == 0; });
      bool mapped = zeros && b[10] == 0xff && b[11] == 0xff && b[12] == 127;
      bool one = zeros &&
                 std::all_of(b.begin() + 10, b.end() - 1, [](uint8_t x) { return x == 0; }) &&
                 b[15] == 1;
      return mapped || one;
    }
    default:
      return false;
  }
}

bool ParseRotate(const std::string& v, ServeOptions* o) {
  double n = 0;
  if (v == "connection") {
    o->rotate = RotateMode::kConnection;
    return true;
  }
  if (core::StartsWithIgnoreAsciiCase(v, "host-sticky:")) {
    if (!Number(v.substr(12), 24 * 60, &n) || n < 1 || n != std::floor(n)) return false;
    o->rotate = RotateMode::kHostSticky;
    o->sticky_minutes = uint32_t(n);
    return true;
  }
  size_t dash = v.find("-seconds");
  if (dash == std::string::npos || dash + 8 != v.size()) return false;
  if (!Number(v.substr(0, dash), 86400, &n) || n < 1 || n != std::floor(n)) return false;
  o->rotate = RotateMode::kInterval;
  o->rotate_seconds = uint32_t(n);
  return true;
}

}  // namespace

const char kServeHelp[] =
    "usage: relaymoth-cli serve [OPTION]... LIST|URL...\n"
    "A local proxy (HTTP, CONNECT and SOCKS5 on one port) that carries every connection\n"
    "through a verified usable row of the lists, up to three rows a connection.\n"
    "\n"
    "  --listen ADDR:PORT     where clients connect (127.0.0.1:8899); an address other\n"
    "                         than loopback needs --auth\n"
    "  --auth USER:PASS       clients log in: SOCKS5 user name and password, HTTP\n"
    "                         Proxy-Authorization: Basic\n"
    "  --rotate MODE          connection: the next row for every connection (default)\n"
    "                         N-seconds: one row for all connections, the next every N s\n"
    "                         host-sticky:MIN: a site keeps its row for MIN minutes\n"
    "  --verify-every MIN     verify the lists again every MIN minutes (30; 0: never),\n"
    "                         downloading list URLs again; a row that failed a client\n"
    "                         is left out until then\n"
    "  --status ADDR:PORT|off the status page on loopback (the listening port + 1):\n"
    "                         / the rows and their state, /metrics the counters\n"
    "  --drain S              seconds open tunnels may go on after SIGTERM (10)\n"
    "  --country CODE|NAME    only rows located in that country (CN, us, 中国)\n"
    "  --area NAME[,NAME]...  only rows in these provinces, cities or carriers (广东,电信)\n"
    "  --not-area NAME[,...]  no rows in these places\n"
    "  --shard I/N            only every N-th row from the I-th (1-based), in list order\n"
    "Verification (as `verify` does it):\n"
    "  --site URL[=STRING]    a page each row must fetch, with STRING in it\n"
    "  --type TYPE, --detect, --connect-timeout S, --timeout S, --in-flight N,\n"
    "  --db FILE, --ca-file FILE\n"
    "  -h, --help             this text\n"
    "\n"
    "Signals: SIGHUP reads and verifies the lists again; SIGTERM or SIGINT stops\n"
    "accepting, lets open tunnels end (--drain) and exits 0. Exit status 2 on bad usage.\n";

bool ParseServeArgs(const std::vector<std::string>& args, ServeOptions* out, std::string* error) {
  ServeOptions o;
  std::vector<std::string> rest;
  bool status_given = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool takes_value = a == "--listen" || a == "--auth" || a == "--rotate" ||
                       a == "--verify-every" || a == "--status" || a == "--drain";
    if (!takes_value) {
      if (a == "--csv" || a == "--json" || a == "--only-working" || a == "--grade" ||
          a == "--judge" || a == "--exit" || a == "--exit-page") {
        *error = a + " is an option of verify, not of serve";
        return false;
      }
      rest.push_back(a);
      continue;
    }
    if (++i == args.size()) {
      *error = a + " needs a value";
      return false;
    }
    const std::string& v = args[i];
    double n = 0;
    if (a == "--listen") {
      if (!Address(v, &o.listen)) {
        *error = "--listen takes IP:PORT: " + v;
        return false;
      }
    } else if (a == "--auth") {
      size_t colon = v.find(':');
      // RFC 1929 carries each of them in at most 255 bytes.
      if (colon == 0 || colon == std::string::npos || colon > 255 || v.size() - colon - 1 > 255) {
        *error = "--auth takes USER:PASS";
        return false;
      }
      o.auth = core::ProxyCredentials{v.substr(0, colon), v.substr(colon + 1)};
    } else if (a == "--rotate") {
      if (!ParseRotate(v, &o)) {
        *error = "--rotate takes connection, N-seconds or host-sticky:MIN: " + v;
        return false;
      }
    } else if (a == "--verify-every") {
      if (!Number(v, 7 * 24 * 60, &n)) {
        *error = "--verify-every takes minutes: " + v;
        return false;
      }
      o.verify_every_ms = uint64_t(std::llround(n * 60000));
    } else if (a == "--status") {
      status_given = true;
      o.status_off = v == "off";
      if (!o.status_off && (!Address(v, &o.status) || !LoopbackOnly(o.status.host))) {
        *error = "--status takes a loopback IP:PORT or off: " + v;
        return false;
      }
    } else if (a == "--drain") {
      if (!Number(v, 3600, &n)) {
        *error = "--drain takes seconds: " + v;
        return false;
      }
      o.drain_ms = uint32_t(std::lround(n * 1000));
    }
  }
  if (!ParseVerifyArgs(rest, &o.verify, error)) return false;
  for (const std::string& input : o.verify.inputs) {
    if (input != "-") continue;
    bool named = std::find(rest.begin(), rest.end(), "-") != rest.end();
    *error = named ? "serve reads its lists again later: it takes files and URLs, not -"
                   : "serve needs a list file or URL";
    return false;
  }
  if (!o.auth && !LoopbackOnly(o.listen.host)) {
    *error = "listening on " + o.listen.host + " lets other machines in: give --auth USER:PASS";
    return false;
  }
  if (!status_given) {
    o.status.port = o.listen.port == 65535 ? 0 : uint16_t(o.listen.port + 1);
    o.status_off = o.status.port == 0;
  }
  if (!o.status_off && o.status.port == o.listen.port) {
    *error = "--status needs a port of its own";
    return false;
  }
  *out = std::move(o);
  return true;
}

}  // namespace cli
