#include "core/verify/judge_page.h"

#include <gtest/gtest.h>

namespace core {
namespace {

TEST(JudgePageTest, Grades) {
  const std::vector<std::string> own = {"203.0.113.7", "2001:db8::7"};
  struct Case {
    const char* page;
    AnonymityGrade grade;
  } cases[] = {
      {"Host: judge.example\nUser-Agent: x\n", AnonymityGrade::kElite},
      {"X-Forwarded-For: 203.0.113.7\nVia: 1.1 p\n", AnonymityGrade::kTransparent},
      {"HTTP_X_FORWARDED_FOR = 2001:db8::7\n", AnonymityGrade::kTransparent},
      {"Via: 1.1 squid\n", AnonymityGrade::kAnonymous},
      {"HTTP_VIA = 1.1 squid\n", AnonymityGrade::kAnonymous},
      {"{\"Forwarded\": \"for=198.51.100.1\"}", AnonymityGrade::kAnonymous},
      {"proxy-connection: keep-alive\n", AnonymityGrade::kAnonymous},
      // Words, not fields; addresses that only contain an own address.
      {"served via the judge, forwarded nowhere\n", AnonymityGrade::kElite},
      {"X-Seen: 203.0.113.70 and 1203.0.113.7\n", AnonymityGrade::kElite},
      // The judge's own Host line names the judge, never the client.
      {"Host: 203.0.113.7:8080\nHTTP_HOST=203.0.113.7\n", AnonymityGrade::kElite},
  };
  for (const Case& c : cases) EXPECT_EQ(GradeJudgePage(c.page, own), c.grade) << c.page;
}

TEST(JudgePageTest, AddressesIn) {
  EXPECT_EQ(AddressesIn("Your IP: 198.51.100.4.\nagain 198.51.100.4, v6 2001:db8::1: end"),
            (std::vector<std::string>{"198.51.100.4", "2001:db8::1"}));
  EXPECT_EQ(AddressesIn("version 1.2.3 and 256.1.1.1, cafe, ::"), std::vector<std::string>{"::"});
  EXPECT_TRUE(AddressesIn("no address here").empty());
}

}  // namespace
}  // namespace core
