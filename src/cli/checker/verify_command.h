// `relaymoth-cli verify`: checks every proxy of the inputs through itself against
// the sites, on the checker's event loop, and writes the results best first.
// Exit status 0 when a proxy works, 1 when none does, 2 on bad usage or input.
// Linux only.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace cli {

struct CliEnv;

int RunVerify(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
              std::ostream& err, const CliEnv& env);

}  // namespace cli
