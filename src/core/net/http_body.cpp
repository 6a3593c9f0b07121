#include "core/net/http_body.h"

#include <algorithm>

#include "core/base/text.h"

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

bool BodyFramingOf(const std::vector<HttpHeaderField>& fields, BodyFraming otherwise,
                   BodyFraming* framing, uint64_t* length) {
  bool chunked = false;
  bool has_length = false;
  uint64_t declared = 0;
  for (const HttpHeaderField& f : fields) {
    if (EqualsIgnoreAsciiCase(f.name, "Transfer-Encoding") &&
        AsciiUpperCopy(f.value).find("CHUNKED") != std::string::npos) {
      chunked = true;
    } else if (EqualsIgnoreAsciiCase(f.name, "Content-Length")) {
      std::string_view v = Trim(f.value);
      if (v.empty() || LeadingDigits(v).size() != v.size() || v.size() > 18) return false;
      uint64_t value = uint64_t(LeadingDigitsValue(v, INT64_MAX));
      if (has_length && value != declared) return false;
      has_length = true;
      declared = value;
    }
  }
  *framing = chunked ? BodyFraming::kChunked : has_length ? BodyFraming::kLength : otherwise;
  *length = *framing == BodyFraming::kLength ? declared : 0;
  return true;
}

HttpBodyReader::HttpBodyReader(BodyFraming framing, uint64_t length, bool strict)
    : framing_(framing),
      remaining_(framing == BodyFraming::kLength ? length : 0),
      strict_(strict),
      done_(framing == BodyFraming::kLength && length == 0) {}

void HttpBodyReader::Fail() {
  failed_ = true;
  line_.clear();
  line_.shrink_to_fit();
}

bool HttpBodyReader::Deliver(std::string_view piece, const Sink& sink) {
  if (piece.empty() || !sink || sink(piece)) return true;
  done_ = true;
  return false;
}

size_t HttpBodyReader::Feed(std::string_view bytes, const Sink& sink) {
  if (done_ || failed_) return 0;
  switch (framing_) {
    case BodyFraming::kToEnd:
      Deliver(bytes, sink);
      return bytes.size();
    case BodyFraming::kLength: {
      std::string_view piece =
          bytes.substr(0, size_t(std::min<uint64_t>(remaining_, bytes.size())));
      remaining_ -= piece.size();
      if (remaining_ == 0) done_ = true;
      Deliver(piece, sink);
      return piece.size();
    }
    case BodyFraming::kChunked:
      break;
  }
  return FeedChunked(bytes, sink);
}

size_t HttpBodyReader::FeedChunked(std::string_view bytes, const Sink& sink) {
  size_t used = 0;
  while (used < bytes.size() && !done_ && !failed_) {
    std::string_view rest = bytes.substr(used);
    if (step_ == ChunkStep::kData) {
      std::string_view piece = rest.substr(0, size_t(std::min<uint64_t>(remaining_, rest.size())));
      remaining_ -= piece.size();
      used += piece.size();
      if (remaining_ == 0) step_ = ChunkStep::kDataEnd;
      if (!Deliver(piece, sink)) break;
      continue;
    }
    // The size line, the line end after a chunk's data and the trailer are lines.
    size_t lf = rest.find('\n');
    if (lf == std::string_view::npos) {
      line_.append(rest);
      used = bytes.size();
      // The line's CR may be held too: one byte more than a line may have.
      if (line_.size() > kMaxChunkLine + 1) Fail();
      break;
    }
    line_.append(rest.substr(0, lf));
    used += lf + 1;
    std::string line;
    line.swap(line_);
    bool had_cr = !line.empty() && line.back() == '\r';
    if (had_cr) line.pop_back();
    if ((strict_ && !had_cr) || line.size() > kMaxChunkLine ||
        (strict_ && line.find_first_of("\r\n") != std::string::npos)) {
      Fail();
      break;
    }
    switch (step_) {
      case ChunkStep::kDataEnd:
        if (!line.empty()) Fail();
        step_ = ChunkStep::kSize;
        break;
      case ChunkStep::kSize: {
        uint64_t size = 0;
        if (!ParseHex(std::string_view(line).substr(0, line.find(';')), &size)) {
          Fail();
          break;
        }
        remaining_ = size;
        step_ = size == 0 ? ChunkStep::kTrailer : ChunkStep::kData;
        break;
      }
      case ChunkStep::kTrailer:
        if (line.empty()) done_ = true;
        break;
      case ChunkStep::kData:
        break;
    }
  }
  return failed_ ? 0 : used;
}

}  // namespace core
