// The reply reader over whole replies and the same replies split at every byte.
#include "core/net/http_response.h"

#include <gtest/gtest.h>

#include "core/net/http_head.h"

namespace core {
namespace {

struct Read {
  ResponseState state;
  ResponseFailure failure;
  int status;
  std::string body;
};

Read ReadAll(std::string_view reply, bool close, size_t piece, size_t stop_after = 0) {
  std::string body;
  HttpResponseReader r([&](std::string_view p) {
    body.append(p);
    return stop_after == 0 || body.size() < stop_after;
  });
  for (size_t i = 0; i < reply.size() && r.state() <= ResponseState::kBody; i += piece) {
    r.Feed(reply.substr(i, piece));
  }
  if (close) r.OnEnd();
  return {r.state(), r.failure(), r.status(), body};
}

TEST(HttpResponseReaderTest, Framings) {
  struct Case {
    const char* name;
    std::string reply;
    bool close;
    ResponseState state;
    ResponseFailure failure;
    int status;
    std::string body;
  } cases[] = {
      {"length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhelloEXTRA", false,
       ResponseState::kDone, ResponseFailure::kNone, 200, "hello"},
      {"chunked",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3;x=y\r\nhel\r\n2\r\nlo\r\n0\r\nT: "
       "1\r\n\r\n",
       false, ResponseState::kDone, ResponseFailure::kNone, 200, "hello"},
      {"to the end", "HTTP/1.0 404 Not Found\r\n\r\nhello", true, ResponseState::kDone,
       ResponseFailure::kNone, 404, "hello"},
      {"longest trailer line",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n" + std::string(256, 'x') +
           "\r\n\r\n",
       false, ResponseState::kDone, ResponseFailure::kNone, 200, ""},
      {"interim reply first",
       "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhi", false,
       ResponseState::kDone, ResponseFailure::kNone, 200, "hi"},
      {"no body", "HTTP/1.1 204 No Content\r\nContent-Length: 9\r\n\r\n", false,
       ResponseState::kDone, ResponseFailure::kNone, 204, ""},
      {"lf line ends", "HTTP/1.1 200 OK\nContent-Length: 2\n\nhi", false, ResponseState::kDone,
       ResponseFailure::kNone, 200, "hi"},
      {"not http", "SSH-2.0-OpenSSH\r\n", false, ResponseState::kFailed, ResponseFailure::kNotHttp,
       -1, ""},
      {"not http after an interim reply", "HTTP/1.1 100 Continue\r\n\r\nHTTPP/1.0 200", true,
       ResponseState::kFailed, ResponseFailure::kNotHttp, -1, ""},
      {"bad length", "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n", false, ResponseState::kFailed,
       ResponseFailure::kBadHead, 200, ""},
      {"lengths that disagree",
       "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\nhi", false,
       ResponseState::kFailed, ResponseFailure::kBadHead, 200, ""},
      {"bad chunk size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", false,
       ResponseState::kFailed, ResponseFailure::kBadChunk, 200, ""},
      {"no CRLF after a chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\nab\r\n",
       false, ResponseState::kFailed, ResponseFailure::kBadChunk, 200, "a"},
      {"cut short body", "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nabc", true,
       ResponseState::kFailed, ResponseFailure::kCutShort, 200, "abc"},
      {"cut short head", "HTTP/1.1 200 OK\r\nX: y", true, ResponseState::kFailed,
       ResponseFailure::kCutShort, -1, ""},
  };
  for (const Case& c : cases) {
    for (size_t piece : {c.reply.size(), size_t(1), size_t(3)}) {
      Read r = ReadAll(c.reply, c.close, piece);
      EXPECT_EQ(r.state, c.state) << c.name << " / " << piece;
      EXPECT_EQ(r.failure, c.failure) << c.name << " / " << piece;
      EXPECT_EQ(r.status, c.status) << c.name << " / " << piece;
      EXPECT_EQ(r.body, c.body) << c.name << " / " << piece;
    }
  }
}

TEST(HttpResponseReaderTest, BoundedAgainstHostileReplies) {
  // A head that never ends is refused once it passes the limit, holding no more.
  HttpResponseReader head([](std::string_view) { return true; });
  head.Feed("HTTP/1.1 200 OK\r\n");
  std::string block(4096, 'a');
  for (int i = 0; i < 256 && head.state() == ResponseState::kHead; ++i) head.Feed(block);
  EXPECT_EQ(head.failure(), ResponseFailure::kHeadTooLong);
  EXPECT_LT(head.held_bytes(), 64u);

  // An endless chunk size line likewise.
  Read line =
      ReadAll("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + std::string(100000, '1'),
              false, 512);
  EXPECT_EQ(line.failure, ResponseFailure::kBadChunk);

  // The sink stops an endless body.
  Read stopped = ReadAll("HTTP/1.1 200 OK\r\n\r\n" + std::string(10000, 'x'), false, 100, 250);
  EXPECT_EQ(stopped.state, ResponseState::kDone);
  // Pieces of 100 bytes, the first shorter by the head's 19: the piece that crossed
  // the mark was handed whole, and nothing after it.
  EXPECT_EQ(stopped.body.size(), 281u);
}

}  // namespace
}  // namespace core
