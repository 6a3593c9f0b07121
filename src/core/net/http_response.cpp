#include "core/net/http_response.h"

#include "core/base/text.h"
#include "core/net/http_head.h"

namespace core {
const char* ResponseFailureEnglish(ResponseFailure failure) {
  switch (failure) {
    case ResponseFailure::kNone:
      return "";
    case ResponseFailure::kNotHttp:
      return "reply is not HTTP";
    case ResponseFailure::kHeadTooLong:
      return "reply head too long";
    case ResponseFailure::kBadHead:
      return "malformed reply head";
    case ResponseFailure::kBadChunk:
      return "malformed chunked body";
    case ResponseFailure::kCutShort:
      break;
  }
  return "reply cut short";
}

void HttpResponseReader::Fail(ResponseFailure why) {
  state_ = ResponseState::kFailed;
  failure_ = why;
  held_.clear();
  held_.shrink_to_fit();
}

ResponseState HttpResponseReader::Feed(std::string_view bytes) {
  if (state_ == ResponseState::kHead) {
    held_.append(bytes);
    while (state_ == ResponseState::kHead) {
      // Every head, an interim one's successor too, begins with "HTTP/": anything
      // else is not a reply of this protocol.
      std::string_view start = std::string_view(held_).substr(0, 5);
      if (std::string_view("HTTP/").substr(0, start.size()) != start) {
        Fail(ResponseFailure::kNotHttp);
        return state_;
      }
      if (!ReadHead()) return state_;
    }
    if (state_ != ResponseState::kBody) return state_;
    std::string rest;
    rest.swap(held_);
    ReadBody(rest);
    return state_;
  }
  if (state_ == ResponseState::kBody) ReadBody(bytes);
  return state_;
}

bool HttpResponseReader::ReadHead() {
  size_t end = FindHeadEnd(held_, searched_);
  if (end == std::string::npos) {
    searched_ = held_.size();
    if (held_.size() > kMaxHttpHead) Fail(ResponseFailure::kHeadTooLong);
    return false;
  }
  if (end > kMaxHttpHead) {
    Fail(ResponseFailure::kHeadTooLong);
    return false;
  }
  HttpHead head;
  if (!ParseHttpHead(std::string_view(held_).substr(0, end), &head)) {
    Fail(ResponseFailure::kBadHead);
    return false;
  }
  int status = ParseStatusLine(head.start_line);
  if (status < 100) {
    Fail(ResponseFailure::kNotHttp);
    return false;
  }
  if (status < 200) {  // an interim reply: the real one follows
    held_.erase(0, end);
    searched_ = 0;
    return true;
  }
  status_ = status;
  BodyFraming framing;
  uint64_t length = 0;
  if (!BodyFramingOf(head.fields, BodyFraming::kToEnd, &framing, &length)) {
    Fail(ResponseFailure::kBadHead);
    return false;
  }
  body_.emplace(framing, length);
  held_.erase(0, end);
  searched_ = 0;
  state_ = ResponseState::kBody;
  // No body follows these, whatever the head says.
  if (status == 204 || status == 304) state_ = ResponseState::kDone;
  if (body_->done()) state_ = ResponseState::kDone;
  return true;
}

void HttpResponseReader::ReadBody(std::string_view bytes) {
  body_->Feed(bytes, sink_);
  if (body_->failed()) {
    Fail(ResponseFailure::kBadChunk);
  } else if (body_->done()) {
    state_ = ResponseState::kDone;
  }
}

ResponseState HttpResponseReader::OnEnd() {
  if (state_ == ResponseState::kHead) {
    Fail(ResponseFailure::kCutShort);
  } else if (state_ == ResponseState::kBody) {
    if (body_->framing() == BodyFraming::kToEnd) {
      state_ = ResponseState::kDone;
    } else {
      Fail(ResponseFailure::kCutShort);
    }
  }
  return state_;
}

}  // namespace core
