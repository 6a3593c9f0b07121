// Reads one HTTP/1.x response as it streams in: the head (at most kMaxHttpHead
// bytes), then the body by Content-Length, chunked transfer coding or up to the
// end of the stream, handed on piece by piece without keeping it. Interim 1xx
// replies are passed over. Used by the command-line checker's page fetches. One
// reader per response; any thread, one at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/net/http_body.h"

namespace core {

enum class ResponseState : int { kHead = 0, kBody, kDone, kFailed };

enum class ResponseFailure : int {
  kNone = 0,
  kNotHttp,      // the bytes do not begin like an HTTP response
  kHeadTooLong,  // no end of the head within kMaxHttpHead bytes
  kBadHead,      // a head that does not parse, or a bad Content-Length
  kBadChunk,     // a chunk size line that does not parse or is too long
  kCutShort,     // the stream ended before the head or the body was complete
};

const char* ResponseFailureEnglish(ResponseFailure failure);

class HttpResponseReader {
 public:
  // Receives the body's bytes; returning false stops the reading (kDone).
  using Sink = std::function<bool(std::string_view)>;
  explicit HttpResponseReader(Sink sink) : sink_(std::move(sink)) {}

  ResponseState Feed(std::string_view bytes);
  // The sender closed its side.
  ResponseState OnEnd();

  ResponseState state() const { return state_; }
  ResponseFailure failure() const { return failure_; }
  int status() const { return status_; }  // -1 until the head is read
  // Bytes the reader holds between calls (the unfinished head or chunk line).
  size_t held_bytes() const { return held_.capacity() + (body_ ? body_->held_bytes() : 0); }

 private:
  void Fail(ResponseFailure why);
  // Consumes bytes of the head from held_; returns false while it is incomplete.
  bool ReadHead();
  void ReadBody(std::string_view bytes);

  Sink sink_;
  ResponseState state_ = ResponseState::kHead;
  ResponseFailure failure_ = ResponseFailure::kNone;
  int status_ = -1;
  std::string held_;
  size_t searched_ = 0;
  std::optional<HttpBodyReader> body_;
};

}  // namespace core
