// The input is a judge page as a proxy could answer it: the grade is one of the
// known ones whatever the page holds, and the same page grades the same way.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/verify/judge_page.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view page(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> own = {"198.51.100.9", "2001:db8::9"};
  core::AnonymityGrade grade = core::GradeJudgePage(page, own);
  if (core::GradeJudgePage(page, own) != grade) std::abort();
  if (core::GradeWord(grade) == nullptr) std::abort();
  return 0;
}
