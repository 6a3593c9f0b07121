// Entry point of relaymoth-cli on Linux: arguments are UTF-8 already.
#include <filesystem>
#include <iostream>

#include "cli/cli.h"
#include "core/base/file_path.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::vector<std::string> args(argv + 1, argv + argc);
  cli::CliEnv env;
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  std::filesystem::path folder = (ec ? std::filesystem::path(argv[0]) : self).parent_path();
  env.default_db = core::PathToUtf8(folder / "wry.dll");
  env.default_ipdb = core::PathToUtf8(folder / "qqwry.ipdb");
  return cli::RunCli(args, std::cin, std::cout, std::cerr, env);
}
