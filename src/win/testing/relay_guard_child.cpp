#include "win/testing/relay_guard_child.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/app/guard_command.h"
#include "core/sysproxy/relay_record.h"
#include "win/app/relay_proxy_guard.h"
#include "win/platform/guard_process.h"
#include "win/platform/registry_profile_store.h"
#include "win/platform/system_proxy.h"
#include "win/platform/wide_text.h"

namespace win {
namespace {

constexpr const char* kGuardRoleSwitch = "--relay-guard-test";

int RunChild(const std::string& proxy_key, const std::string& profile_key) {
  RegistryProfileStore profile(HKEY_CURRENT_USER, profile_key);
  SystemProxyPlace place;
  place.key = proxy_key;
  std::wstring leading =
      Utf8ToWide(std::string(kGuardRoleSwitch) + " " + proxy_key + " " + profile_key + " ");
  RelayProxyGuard guard(
      profile, place, [&] { return StartGuardProcess(TestProgramPath(), leading); }, false);
  guard.RepairAtStart();
  int32_t port = profile.ReadInt(core::kLocalRelaySection, core::kLocalRelayPortValue, 0);
  // In the Switcher's order: the record and the guard, then the setting.
  if (!guard.BeforeRelayWrite(uint16_t(port))) return 5;
  if (!SetSystemProxy("127.0.0.1:" + std::to_string(port), place).ok()) return 3;
  if (!guard.AfterSystemProxyWrite()) return 5;
  if (guard.guard_process() == nullptr) return 4;
  std::printf("%lu\n", GetProcessId(guard.guard_process()));
  std::fflush(stdout);
  // Killed here, or told to end by the end of the input.
  char buffer[64];
  while (std::fread(buffer, 1, sizeof(buffer), stdin) > 0) {
  }
  guard.RestoreAtExit();
  return 0;
}

}  // namespace

std::wstring TestProgramPath() {
  wchar_t path[MAX_PATH + 1] = {};
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, length);
}

int RunRelayGuardTestRole(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == kRelayGuardChildSwitch)
    return RunChild(argv[2], argv[3]);
  if (argc >= 4 && std::string(argv[1]) == kGuardRoleSwitch) {
    core::GuardCommand command;
    std::vector<std::string> words(argv + 4, argv + argc);
    if (core::ParseGuardCommand(words, &command) != core::GuardArguments::kGuard) return 5;
    RegistryProfileStore profile(HKEY_CURRENT_USER, argv[3]);
    SystemProxyPlace place;
    place.key = argv[2];
    return RunRelayGuard(command, profile, place, nullptr);
  }
  return -1;
}

}  // namespace win
