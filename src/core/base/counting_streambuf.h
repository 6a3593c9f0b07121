// CountingStreamBuf: reads through another stream buffer and counts the bytes
// it hands out, so that one thread can read a file while another shows how far
// it got. The reader owns the buffer; any thread may read the count.
#pragma once

#include <atomic>
#include <cstdint>
#include <streambuf>

namespace core {

class CountingStreamBuf final : public std::streambuf {
 public:
  // `inner` must outlive this buffer; `*count` grows by every byte read,
  // again after a seek back. Once `*stop` (when given) is true the buffer ends
  // as if the file did: a reader on another thread can be let go at once.
  CountingStreamBuf(std::streambuf* inner, std::atomic<uint64_t>* count,
                    const std::atomic<bool>* stop = nullptr)
      : inner_(inner), count_(count), stop_(stop) {}

 protected:
  int_type underflow() override;
  pos_type seekoff(off_type off, std::ios_base::seekdir dir,
                   std::ios_base::openmode which) override;
  pos_type seekpos(pos_type pos, std::ios_base::openmode which) override;

 private:
  std::streambuf* inner_;
  std::atomic<uint64_t>* count_;
  const std::atomic<bool>* stop_;
  char buffer_[1 << 16];
};

}  // namespace core
