// Reads a byte stream line by line without ever holding more than one line: a
// line ends at LF, CR LF or a lone CR (files from old Macs and some list sites),
// the end itself is not part of the line, the last line needs no end, and a
// line longer than the limit is returned cut, flagged.
// Any thread; one reader per stream.
#pragma once

#include <istream>
#include <string>

namespace core {

class LineReader {
 public:
  static constexpr size_t kDefaultLimit = 1 << 20;  // 1 MiB

  explicit LineReader(std::istream& in, size_t limit = kDefaultLimit) : in_(in), limit_(limit) {}

  // Next line into *line; false at the end of the stream. *too_long tells that
  // the line went on past the limit and only its first `limit` bytes are kept.
  bool Next(std::string* line, bool* too_long);

  // False when reading failed for another reason than the end of the stream.
  bool ok() const { return !in_.bad(); }

 private:
  bool Fill();

  std::istream& in_;
  size_t limit_;
  std::string buf_;
  size_t pos_ = 0;
  bool eof_ = false;
  // The last line ended at a CR: an LF right after it belongs to that end.
  bool after_cr_ = false;
};

}  // namespace core
