#include "core/proxylist/line_reader.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace core {
namespace {

std::vector<std::string> Lines(const std::string& text, size_t limit = LineReader::kDefaultLimit) {
  std::istringstream in(text);
  LineReader reader(in, limit);
  std::vector<std::string> out;
  std::string line;
  bool too_long = false;
  while (reader.Next(&line, &too_long)) out.push_back(too_long ? line + "<cut>" : line);
  return out;
}

TEST(LineReaderTest, EndsLinesAtLfCrLfAndLoneCr) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"LF", "a\nb\n", {"a", "b"}},
      {"CR LF", "a\r\nb\r\n", {"a", "b"}},
      {"lone CR", "a\rb\rc", {"a", "b", "c"}},
      {"mixed", "a\r\n\rb\n\nc\r", {"a", "", "b", "", "c"}},
      {"LF CR is two ends", "a\n\rb", {"a", "", "b"}},
      {"no end on the last line", "a\r\nb", {"a", "b"}},
      {"empty", "", {}},
      {"only an end", "\r\n", {""}},
  };
  for (const Case& c : cases) EXPECT_EQ(Lines(c.text), c.lines) << c.name;
}

// The reader takes the stream in 64 KiB chunks: a CR LF split between two
// chunks is still one line end, and a cut line still ends at a CR.
TEST(LineReaderTest, CrLfAcrossAChunkAndCutLines) {
  std::string first(64 * 1024 - 1, 'x');
  EXPECT_EQ(Lines(first + "\r\nb\r\n"), (std::vector<std::string>{first, "b"}));
  EXPECT_EQ(Lines("abcdef\rgh", 3), (std::vector<std::string>{"abc<cut>", "gh"}));
}

}  // namespace
}  // namespace core
