// `relaymoth-cli serve`: a local HTTP/SOCKS5 proxy over the verified usable rows
// of lists, verified again in the background, rotating exits by connection, by
// time or by site. Linux only.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace cli {

struct CliEnv;

int RunServe(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
             const CliEnv& env);

}  // namespace cli
