#include "core/proxylist/ip_location.h"

#include <cstring>
#include <fstream>
#include <system_error>
#include <utility>

#include "core/base/codepage.h"
#include "core/base/text.h"

namespace core {
namespace {

// Header: 4 bytes nobody reads, record count N (int32), base B (uint16), stride
// S (uint16), all little-endian.
constexpr size_t kHeaderBytes = 12;

// Every record is read as 105 bytes, whatever the stride, and cut into five texts
// by zeros forced at fixed positions.
constexpr size_t kRecordBytes = 105;
constexpr size_t kForcedZeros[] = {15, 31, 45, 92, 104};
constexpr size_t kStartPos = 0;
constexpr size_t kEndPos = 16;
constexpr size_t kCountryPos = 32;
constexpr size_t kAreaPos = 46;
constexpr size_t kExtraPos = 93;

uint32_t ReadLe32(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return uint32_t{u[0]} | uint32_t{u[1]} << 8 | uint32_t{u[2]} << 16 | uint32_t{u[3]} << 24;
}

uint16_t ReadLe16(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return uint16_t(u[0] | u[1] << 8);
}

}  // namespace

IpLocationDb::IpLocationDb(std::filesystem::path file) : file_(std::move(file)) {}

IpLocationDb IpLocationDb::FromBytes(std::string bytes) {
  IpLocationDb db;
  db.in_memory_ = true;
  if (bytes.size() <= kMaxFileBytes) db.bytes_ = std::move(bytes);
  return db;
}

bool IpLocationDb::LookupIpLocation(std::string_view address, IpLocation* out) {
  std::string key = IpLookupKey(address);
  if (key.empty()) return false;
  if (!Refresh()) return false;
  return Search(key, out);
}

void IpLocationDb::Hold(bool on) {
  if (on) {
    ++holds_;
  } else if (holds_ > 0 && --holds_ == 0) {
    looked_in_hold_ = false;
  }
}

bool IpLocationDb::Refresh() {
  if (in_memory_) return !bytes_.empty();
  if (holds_ > 0) {
    if (looked_in_hold_) return !bytes_.empty();
    looked_in_hold_ = true;
  }

  // One stat pair per lookup keeps a long import cheap while still noticing a
  // database that was replaced, removed or installed while the program runs.
  std::error_code ec;
  Stamp now;
  now.size = std::filesystem::file_size(file_, ec);
  if (!ec) now.write_time = std::filesystem::last_write_time(file_, ec);
  if (ec) {
    have_stamp_ = false;
    std::string().swap(bytes_);
    return false;
  }
  if (have_stamp_ && now == stamp_) return !bytes_.empty();

  // A failed or refused read is remembered under its stamp too, so an unusable
  // file is not read again on every lookup.
  have_stamp_ = true;
  stamp_ = now;
  std::string().swap(bytes_);
  if (now.size > kMaxFileBytes) return false;

  std::ifstream in(file_, std::ios::binary);
  if (!in) return false;
  std::string data(size_t(now.size), '\0');
  in.read(data.data(), std::streamsize(data.size()));
  // A file cut short while we read it keeps what was read; its new size differs
  // from the stamp, so the next lookup reads it again.
  data.resize(size_t(in.gcount()));
  bytes_ = std::move(data);
  return !bytes_.empty();
}

bool IpLocationDb::Search(const std::string& key, IpLocation* out) const {
  if (bytes_.size() < kHeaderBytes) return false;
  const int64_t count = int32_t(ReadLe32(bytes_.data() + 4));
  const uint64_t base = ReadLe16(bytes_.data() + 8);
  const uint64_t stride = ReadLe16(bytes_.data() + 10);
  // With no records the search would read "record 0", which is header bytes.
  if (count < 1) return false;

  // Records are numbered from 1; the search never narrows below a step of one
  // record and stops when the midpoint repeats, so record N is only examined when
  // it is the only one. All offsets are 64-bit: N * S + B does not fit 32 bits.
  const std::string_view wanted(key);
  int64_t lo = 1;
  int64_t hi = count;
  int64_t previous = 0;
  for (;;) {
    const int64_t mid = (lo + hi) / 2;
    const uint64_t offset = uint64_t(mid) * stride + base + 1;
    if (offset > bytes_.size() || bytes_.size() - offset < kRecordBytes) return false;

    char record[kRecordBytes];
    std::memcpy(record, bytes_.data() + offset, kRecordBytes);
    for (size_t pos : kForcedZeros) record[pos] = '\0';
    const std::string_view start(record + kStartPos);
    const std::string_view end(record + kEndPos);

    if (wanted < start) {
      hi = mid;
    } else if (wanted <= end) {
      out->range_start = GbkToUtf8(start);
      out->range_end = GbkToUtf8(end);
      out->country = GbkToUtf8(record + kCountryPos);
      out->area = GbkToUtf8(record + kAreaPos);
      out->extra = GbkToUtf8(record + kExtraPos);
      return true;
    } else {
      lo = mid;
    }
    if (mid == previous) return false;
    previous = mid;
  }
}

std::string LocationText(const IpLocation& loc) {
  std::string text(Trim(loc.country));
  text += ' ';
  text += Trim(loc.area);
  return text;
}

std::string IpLookupKey(std::string_view address) {
  const std::string_view a = Trim(LeadingRun(address, " 0123456789."));
  size_t dots[3];
  size_t from = 0;
  for (size_t& dot : dots) {
    dot = a.find('.', from);
    if (dot == std::string_view::npos) return {};
    from = dot + 1;
  }
  const std::string_view parts[4] = {
      a.substr(0, dots[0]),
      a.substr(dots[0] + 1, dots[1] - dots[0] - 1),
      a.substr(dots[1] + 1, dots[2] - dots[1] - 1),
      a.substr(dots[2] + 1),
  };
  int values[4];
  for (int i = 0; i < 4; ++i) values[i] = int(LeadingDigitsValue(parts[i]));
  return Format("%03d.%03d.%03d.%03d", values[0], values[1], values[2], values[3]);
}

}  // namespace core
