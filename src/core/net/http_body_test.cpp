// A request body as the relay passes it on: exactly its own bytes, whatever follows
// it in the same reads, in whole and in split pieces.
#include "core/net/http_body.h"

#include <gtest/gtest.h>

namespace core {
namespace {

TEST(HttpBodyReaderTest, ARequestBodyEndsWhereItsFramingSays) {
  const std::string next = "GET http://h/ HTTP/1.1\r\nProxy-Authorization: Basic eDp5\r\n\r\n";
  struct Case {
    const char* name;
    BodyFraming framing;
    uint64_t length;
    std::string body;  // followed by `next` in the stream
    bool failed;       // the body's framing is refused (nothing counts then)
  } cases[] = {
      {"no body", BodyFraming::kLength, 0, "", false},
      {"by length", BodyFraming::kLength, 3, "x=1", false},
      {"chunked with extensions and a trailer", BodyFraming::kChunked, 0,
       "3;a=b\r\nx=1\r\n0\r\nT: 1\r\n\r\n", false},
      {"a chunk that hides a request", BodyFraming::kChunked, 0,
       "2f\r\nGET http://h/ HTTP/1.1\r\nHost: a\r\nX: 0123456\r\n\r\n\r\n0\r\n\r\n", false},
      {"a size line ended by LF alone", BodyFraming::kChunked, 0, "3\nx=1\r\n0\r\n\r\n", true},
      {"a chunk's data longer than its size", BodyFraming::kChunked, 0, "1\r\nab\r\n0\r\n\r\n",
       true},
      {"a size that is not hex", BodyFraming::kChunked, 0, "-1\r\n", true},
      {"an endless size line", BodyFraming::kChunked, 0, std::string(300, '1'), true},
  };
  for (const Case& c : cases) {
    std::string stream = c.body + next;
    for (size_t piece : {stream.size(), size_t(1), size_t(7)}) {
      SCOPED_TRACE(testing::Message() << c.name << " / " << piece);
      HttpBodyReader body(c.framing, c.length, true);
      std::string passed;
      for (size_t i = 0; i < stream.size() && !body.failed(); i += piece) {
        std::string_view part = std::string_view(stream).substr(i, piece);
        passed.append(part.substr(0, body.Feed(part)));
      }
      EXPECT_EQ(body.failed(), c.failed);
      if (!c.failed) {
        EXPECT_TRUE(body.done());
        EXPECT_EQ(passed, c.body);
      }
    }
  }
}

}  // namespace
}  // namespace core
