// The body of one HTTP/1.x message as it streams in, framed by Content-Length, by
// chunked transfer coding or by the end of the stream: which of the bytes that
// follow the head belong to it, where it ends, and its data without the chunk
// framing. Used by the checker's page fetches and by the relay, which passes on a
// request's body and nothing after it. One reader per body; any thread, one at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/net/http_head.h"

namespace core {

enum class BodyFraming : int { kLength = 0, kChunked, kToEnd };

// The framing `fields` give: chunked when Transfer-Encoding names it, else the
// Content-Length, else `otherwise` (a request without either has no body; a reply
// runs to the end of the stream). False for a Content-Length that is not a number,
// or several that disagree.
bool BodyFramingOf(const std::vector<HttpHeaderField>& fields, BodyFraming otherwise,
                   BodyFraming* framing, uint64_t* length);

class HttpBodyReader {
 public:
  // Receives the body's data; returning false ends the body there (done()).
  using Sink = std::function<bool(std::string_view)>;

  // `strict`: chunk lines must end in CRLF, as a request passed on to a proxy must,
  // so that the relay and the proxy cannot read its end differently; a reply's
  // reader also takes lines ended by LF alone.
  HttpBodyReader(BodyFraming framing, uint64_t length, bool strict = false);

  // Reads the next bytes of the stream; returns how many of them belong to the
  // body: all of them until it ends, fewer when it ends within them, 0 once done()
  // or failed(). `sink`, when given, gets the data as it is read.
  size_t Feed(std::string_view bytes, const Sink& sink = nullptr);

  BodyFraming framing() const { return framing_; }
  bool done() const { return done_; }
  // A chunk line that does not parse, is too long, or (strict) lacks its CR.
  bool failed() const { return failed_; }
  // Bytes kept between calls (an unfinished chunk line).
  size_t held_bytes() const { return line_.capacity(); }

 private:
  enum class ChunkStep { kSize, kData, kDataEnd, kTrailer };
  size_t FeedChunked(std::string_view bytes, const Sink& sink);
  bool Deliver(std::string_view piece, const Sink& sink);
  void Fail();

  BodyFraming framing_;
  uint64_t remaining_;  // body bytes (kLength) or chunk bytes (kChunked) still due
  bool strict_;
  bool done_ = false;
  bool failed_ = false;
  ChunkStep step_ = ChunkStep::kSize;
  std::string line_;
};

}  // namespace core
