#include "win/platform/guard_process.h"

#include <shellapi.h>

#include "win/platform/wide_text.h"

namespace win {
namespace {

uint64_t StartTimeOf(HANDLE process) {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  return (uint64_t(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

}  // namespace

core::GuardCommand ThisProcessForGuard() {
  return {GetCurrentProcessId(), StartTimeOf(GetCurrentProcess())};
}

UniqueKernelHandle StartGuardProcess(const std::wstring& program, const std::wstring& leading) {
  std::wstring line = L"\"" + program + L"\" " + leading +
                      Utf8ToWide(core::GuardCommandArguments(ThisProcessForGuard()));
  wchar_t folder[MAX_PATH + 1] = {};
  UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  const wchar_t* current = length > 0 && length < MAX_PATH ? folder : nullptr;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  // No busy cursor for a process that never shows a window.
  startup.dwFlags = STARTF_FORCEOFFFEEDBACK;
  PROCESS_INFORMATION info{};
  DWORD flags = CREATE_NO_WINDOW | CREATE_BREAKAWAY_FROM_JOB;
  BOOL started = CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, flags,
                                nullptr, current, &startup, &info);
  if (!started && GetLastError() == ERROR_ACCESS_DENIED) {
    // The job does not let its processes leave: the guard stays in it.
    started = CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE,
                             flags & ~DWORD(CREATE_BREAKAWAY_FROM_JOB), nullptr, current, &startup,
                             &info);
  }
  if (!started) return UniqueKernelHandle();
  CloseHandle(info.hThread);
  return UniqueKernelHandle(info.hProcess);
}

void WaitForGuardedProcess(const core::GuardCommand& command) {
  UniqueKernelHandle process(
      OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, command.pid));
  if (!process) return;
  // Ids are used again: a process of that id started at another time is not
  // the one that started the guard, which has ended then.
  uint64_t started = StartTimeOf(process.get());
  if (command.started != 0 && started != 0 && started != command.started) return;
  WaitForSingleObject(process.get(), INFINITE);
}

std::vector<std::string> CommandLineWords() {
  std::vector<std::string> words;
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (argv == nullptr) return words;
  for (int i = 1; i < count; ++i) words.push_back(WideToUtf8(argv[i]));
  LocalFree(argv);
  return words;
}

}  // namespace win
