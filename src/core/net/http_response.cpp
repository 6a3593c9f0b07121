#include "core/net/http_response.h"

#include "core/base/text.h"
#include "core/net/http_head.h"

namespace core {
namespace {

// A chunk size line ("1a2b;ext") is short; a longer one is an attack or garbage.
constexpr size_t kMaxChunkLine = 256;

bool ParseHex(std::string_view text, uint64_t* value) {
  text = Trim(text);
  if (text.empty() || text.size() > 15) return false;
  uint64_t v = 0;
  for (char c : text) {
    int d = c >= '0' && c <= '9'   ? c - '0'
            : c >= 'a' && c <= 'f' ? c - 'a' + 10
            : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                   : -1;
    if (d < 0) return false;
    v = v * 16 + uint64_t(d);
  }
  *value = v;
  return true;
}

}  // namespace

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

void HttpResponseReader::Deliver(std::string_view piece) {
  if (piece.empty() || state_ != ResponseState::kBody) return;
  if (!sink_(piece)) state_ = ResponseState::kDone;
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
  framing_ = Framing::kToEnd;
  for (const HttpHeaderField& f : head.fields) {
    if (EqualsIgnoreAsciiCase(f.name, "Transfer-Encoding") &&
        AsciiUpperCopy(f.value).find("CHUNKED") != std::string::npos) {
      framing_ = Framing::kChunked;
      chunk_step_ = ChunkStep::kSize;
    } else if (EqualsIgnoreAsciiCase(f.name, "Content-Length") && framing_ != Framing::kChunked) {
      std::string_view v = Trim(f.value);
      if (v.empty() || LeadingDigits(v).size() != v.size() || v.size() > 18) {
        Fail(ResponseFailure::kBadHead);
        return false;
      }
      framing_ = Framing::kLength;
      remaining_ = uint64_t(LeadingDigitsValue(v));
    }
  }
  held_.erase(0, end);
  searched_ = 0;
  state_ = ResponseState::kBody;
  // No body follows these, whatever the head says.
  if (status == 204 || status == 304) state_ = ResponseState::kDone;
  if (state_ == ResponseState::kBody && framing_ == Framing::kLength && remaining_ == 0) {
    state_ = ResponseState::kDone;
  }
  return true;
}

void HttpResponseReader::ReadBody(std::string_view bytes) {
  switch (framing_) {
    case Framing::kToEnd:
      Deliver(bytes);
      return;
    case Framing::kLength: {
      std::string_view piece =
          bytes.substr(0, size_t(std::min<uint64_t>(remaining_, bytes.size())));
      remaining_ -= piece.size();
      Deliver(piece);
      if (remaining_ == 0 && state_ == ResponseState::kBody) state_ = ResponseState::kDone;
      return;
    }
    case Framing::kChunked:
      ReadChunked(bytes);
      return;
  }
}

void HttpResponseReader::ReadChunked(std::string_view bytes) {
  while (!bytes.empty() && state_ == ResponseState::kBody) {
    if (chunk_step_ == ChunkStep::kData) {
      std::string_view piece =
          bytes.substr(0, size_t(std::min<uint64_t>(remaining_, bytes.size())));
      remaining_ -= piece.size();
      bytes.remove_prefix(piece.size());
      Deliver(piece);
      if (remaining_ == 0) chunk_step_ = ChunkStep::kDataEnd;
      continue;
    }
    // The size line, the CRLF after a chunk's data and the trailer are read as lines.
    size_t lf = bytes.find('\n');
    if (lf == std::string_view::npos) {
      held_.append(bytes);
      // The line's CR may be held too: one byte more than a line may have.
      if (held_.size() > kMaxChunkLine + 1) Fail(ResponseFailure::kBadChunk);
      return;
    }
    held_.append(bytes.substr(0, lf));
    bytes.remove_prefix(lf + 1);
    std::string line;
    line.swap(held_);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > kMaxChunkLine) {
      Fail(ResponseFailure::kBadChunk);
      return;
    }
    switch (chunk_step_) {
      case ChunkStep::kDataEnd:
        if (!line.empty()) {
          Fail(ResponseFailure::kBadChunk);
          return;
        }
        chunk_step_ = ChunkStep::kSize;
        break;
      case ChunkStep::kSize: {
        uint64_t size = 0;
        if (!ParseHex(std::string_view(line).substr(0, line.find(';')), &size)) {
          Fail(ResponseFailure::kBadChunk);
          return;
        }
        remaining_ = size;
        chunk_step_ = size == 0 ? ChunkStep::kTrailer : ChunkStep::kData;
        break;
      }
      case ChunkStep::kTrailer:
        if (line.empty()) state_ = ResponseState::kDone;
        break;
      case ChunkStep::kData:
        break;
    }
  }
}

ResponseState HttpResponseReader::OnEnd() {
  if (state_ == ResponseState::kHead) {
    Fail(ResponseFailure::kCutShort);
  } else if (state_ == ResponseState::kBody) {
    if (framing_ == Framing::kToEnd) {
      state_ = ResponseState::kDone;
    } else {
      Fail(ResponseFailure::kCutShort);
    }
  }
  return state_;
}

}  // namespace core
