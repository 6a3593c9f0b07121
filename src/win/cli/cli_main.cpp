// Entry point of relaymoth-cli.exe: takes the wide command line, hands UTF-8 to
// the portable command code and writes its records byte for byte (LF line ends,
// UTF-8), whatever the console's code page.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace {

std::string Utf8FromWide(const wchar_t* w) {
  int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string out(size_t(n - 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w, -1, out.data(), n, nullptr, nullptr);
  return out;
}

// The folder of the running program, with the location database beside it.
std::string ProgramFolderDatabase() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
    if (n == 0) return "wry.dll";
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  size_t slash = path.find_last_of(L"\\/");
  path.resize(slash == std::wstring::npos ? 0 : slash + 1);
  return Utf8FromWide((path + L"wry.dll").c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // Binary streams: no CR added to the records, none taken from the input.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  SetConsoleOutputCP(CP_UTF8);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(Utf8FromWide(argv[i]));
  cli::CliEnv env{ProgramFolderDatabase()};
  int code = cli::RunCli(args, std::cin, std::cout, std::cerr, env);
  std::cout.flush();
  return code;
}
