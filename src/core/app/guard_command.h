// The command line of the guard process: the program started again as
// "--guard PID STARTED" waits for the copy PID (whose start time, in the
// system's 100 ns units, is STARTED) to end and then repairs a system proxy
// left pointing at the local relay. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace core {

inline constexpr std::string_view kGuardSwitch = "--guard";

struct GuardCommand {
  uint32_t pid = 0;
  uint64_t started = 0;
  bool operator==(const GuardCommand&) const = default;
};

enum class GuardArguments {
  kNone,   // an ordinary start
  kBad,    // "--guard" with anything but a process id and a start time
  kGuard,  // `command` is filled
};

// `args`: the words of the command line after the program's name.
GuardArguments ParseGuardCommand(const std::vector<std::string>& args, GuardCommand* command);

// The words after the program's name that start the guard of `command.pid`.
std::string GuardCommandArguments(const GuardCommand& command);

}  // namespace core
