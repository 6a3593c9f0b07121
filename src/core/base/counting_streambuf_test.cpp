#include "core/base/counting_streambuf.h"

#include <gtest/gtest.h>

#include <istream>
#include <sstream>
#include <string>

namespace core {
namespace {

TEST(CountingStreamBufTest, CountsEveryPassAndKeepsPositions) {
  std::string text(200000, 'x');
  text[100000] = '\n';
  std::istringstream source(text);
  std::atomic<uint64_t> count{0};
  CountingStreamBuf counting(source.rdbuf(), &count);
  std::istream in(&counting);
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_EQ(line.size(), 100000u);
  EXPECT_EQ(in.tellg(), std::streampos(100001));  // not where the read-ahead stopped
  in.seekg(0);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(all, text);
  EXPECT_GE(count.load(), 100001u + text.size());  // a second pass counts again
  EXPECT_LE(count.load(), 2 * text.size());
}

TEST(CountingStreamBufTest, EndsWhenToldToStop) {
  std::istringstream source(std::string(300000, 'x'));
  std::atomic<uint64_t> count{0};
  std::atomic<bool> stop{false};
  CountingStreamBuf counting(source.rdbuf(), &count, &stop);
  std::istream in(&counting);
  char first[10];
  ASSERT_TRUE(in.read(first, sizeof(first)));
  stop = true;
  std::string rest((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_LT(rest.size(), 300000u - sizeof(first));  // only what was buffered already
}

}  // namespace
}  // namespace core
