#include "core/base/counting_streambuf.h"

namespace core {

CountingStreamBuf::int_type CountingStreamBuf::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  if (stop_ && stop_->load(std::memory_order_relaxed)) return traits_type::eof();
  std::streamsize n = inner_->sgetn(buffer_, sizeof(buffer_));
  if (n <= 0) return traits_type::eof();
  count_->fetch_add(uint64_t(n), std::memory_order_relaxed);
  setg(buffer_, buffer_, buffer_ + n);
  return traits_type::to_int_type(buffer_[0]);
}

CountingStreamBuf::pos_type CountingStreamBuf::seekoff(off_type off, std::ios_base::seekdir dir,
                                                       std::ios_base::openmode which) {
  // The inner buffer stands where this one's read-ahead ends.
  if (dir == std::ios_base::cur) off -= off_type(egptr() - gptr());
  setg(nullptr, nullptr, nullptr);
  return inner_->pubseekoff(off, dir, which);
}

CountingStreamBuf::pos_type CountingStreamBuf::seekpos(pos_type pos,
                                                       std::ios_base::openmode which) {
  setg(nullptr, nullptr, nullptr);
  return inner_->pubseekpos(pos, which);
}

}  // namespace core
