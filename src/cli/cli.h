// relaymoth-cli: the proxy-list core for scripts. Every command reads and writes
// UTF-8, one TAB-separated record per line; the exit code is 0 unless the
// command line itself is wrong (2, with a usage text on the error stream).
// The entry points of each platform turn their arguments into UTF-8 and call RunCli.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/cli_env.h"

namespace cli {

// args excludes the program name.
int RunCli(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
           std::ostream& err, const CliEnv& env);

}  // namespace cli
