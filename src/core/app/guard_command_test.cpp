#include "core/app/guard_command.h"

#include <gtest/gtest.h>

namespace core {
namespace {

TEST(GuardCommandTest, TheGuardsWordsReadBack) {
  const GuardCommand command{4294967295u, 18446744073709551615ull};
  std::string words = GuardCommandArguments(command);
  std::vector<std::string> args;
  for (size_t start = 0, blank = 0; blank != std::string::npos; start = blank + 1) {
    blank = words.find(' ', start);
    args.push_back(words.substr(start, blank - start));
  }
  GuardCommand back;
  ASSERT_EQ(ParseGuardCommand(args, &back), GuardArguments::kGuard) << words;
  EXPECT_TRUE(back == command) << words;
}

TEST(GuardCommandTest, OnlyAWholeGuardCommandMakesAGuard) {
  struct Case {
    std::vector<std::string> args;
    GuardArguments result;
  };
  const Case cases[] = {
      {{}, GuardArguments::kNone},
      {{"/autorun"}, GuardArguments::kNone},
      {{"--GUARD", "12", "34"}, GuardArguments::kNone},
      {{"--guard", "12", "34"}, GuardArguments::kGuard},
      {{"--guard", "12", "0"}, GuardArguments::kGuard},
      {{"--guard"}, GuardArguments::kBad},
      {{"--guard", "12"}, GuardArguments::kBad},
      {{"--guard", "12", "34", "56"}, GuardArguments::kBad},
      {{"--guard", "0", "34"}, GuardArguments::kBad},
      {{"--guard", "-12", "34"}, GuardArguments::kBad},
      {{"--guard", "+12", "34"}, GuardArguments::kBad},
      {{"--guard", "12x", "34"}, GuardArguments::kBad},
      {{"--guard", "4294967296", "34"}, GuardArguments::kBad},
      {{"--guard", "12", "18446744073709551616"}, GuardArguments::kBad},
      {{"--guard", "", "34"}, GuardArguments::kBad},
  };
  for (const Case& c : cases) {
    GuardCommand command{7, 7};
    std::string shown;
    for (const std::string& a : c.args) shown += "[" + a + "]";
    EXPECT_EQ(ParseGuardCommand(c.args, &command), c.result) << shown;
    if (c.result != GuardArguments::kGuard) {
      EXPECT_TRUE(command == (GuardCommand{7, 7})) << shown;
    }
  }
}

}  // namespace
}  // namespace core
