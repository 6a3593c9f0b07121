#include "core/app/guard_command.h"

#include <charconv>

#include "core/base/text.h"

namespace core {
namespace {

template <typename Number>
bool ParseWhole(const std::string& text, Number* value) {
  if (text.empty() || !IsDigit(text[0])) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

GuardArguments ParseGuardCommand(const std::vector<std::string>& args, GuardCommand* command) {
  if (args.empty() || args[0] != kGuardSwitch) return GuardArguments::kNone;
  GuardCommand parsed;
  if (args.size() != 3 || !ParseWhole(args[1], &parsed.pid) || parsed.pid == 0 ||
      !ParseWhole(args[2], &parsed.started)) {
    return GuardArguments::kBad;
  }
  *command = parsed;
  return GuardArguments::kGuard;
}

std::string GuardCommandArguments(const GuardCommand& command) {
  return std::string(kGuardSwitch) + " " + std::to_string(command.pid) + " " +
         std::to_string(command.started);
}

}  // namespace core
