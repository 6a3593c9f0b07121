#include "core/proxylist/line_reader.h"

#include <cstring>

namespace core {

bool LineReader::Fill() {
  if (eof_) return false;
  buf_.erase(0, pos_);
  pos_ = 0;
  size_t old = buf_.size();
  constexpr size_t kChunk = 64 * 1024;
  buf_.resize(old + kChunk);
  in_.read(buf_.data() + old, std::streamsize(kChunk));
  size_t got = size_t(in_.gcount());
  buf_.resize(old + got);
  if (got == 0) eof_ = true;
  return got != 0;
}

bool LineReader::Next(std::string* line, bool* too_long) {
  line->clear();
  *too_long = false;
  bool any = false;
  for (;;) {
    if (pos_ >= buf_.size() && !Fill()) return any;
    if (after_cr_) {
      // CR LF is one line end, also when a chunk ends between the two.
      after_cr_ = false;
      if (buf_[pos_] == '\n' && ++pos_ >= buf_.size()) continue;
    }
    any = true;
    const char* start = buf_.data() + pos_;
    size_t avail = buf_.size() - pos_;
    const char* lf = static_cast<const char*>(std::memchr(start, '\n', avail));
    const char* cr = static_cast<const char*>(std::memchr(start, '\r', lf ? size_t(lf - start) : avail));
    const char* end = cr ? cr : lf;
    size_t take = end ? size_t(end - start) : avail;
    size_t room = limit_ > line->size() ? limit_ - line->size() : 0;
    if (take > room) *too_long = true;
    line->append(start, take < room ? take : room);
    pos_ += take;
    if (end) {
      ++pos_;  // the CR or LF itself
      after_cr_ = end == cr;
      return true;
    }
  }
}

}  // namespace core
