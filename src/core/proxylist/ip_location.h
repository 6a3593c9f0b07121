// The IP-location database "wry.dll": maps IPv4 ranges to a country and an area
// text for the list's location column. The file is a plain data file read whole
// into memory and reloaded when its size or write time changes on disk.
// An IpLocationDb is owned by the UI thread (or the command line tool) and is not
// thread-safe; the free functions are pure and may be called from any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace core {

// One database record, converted from the file's GBK bytes to UTF-8.
struct IpLocation {
  std::string country;
  std::string area;
  std::string range_start;
  std::string range_end;
  std::string extra;
};

class IpLocationDb {
 public:
  // A file larger than this is not a location database (a real one is ~20 MB).
  static constexpr uint64_t kMaxFileBytes = uint64_t{128} << 20;

  // Reads `file` lazily, on the first lookup of a dotted quad. The file need not
  // exist: lookups report not found until it appears.
  explicit IpLocationDb(std::filesystem::path file);

  // A database over `bytes` held in memory; it never touches the disk.
  static IpLocationDb FromBytes(std::string bytes);

  // True and *out filled when `address` lies in one of the database's ranges;
  // false when it does not, when it is not a dotted quad (the file is then not
  // looked at), and when the file is missing, unreadable, oversized or broken.
  // *out is untouched when false.
  bool LookupIpLocation(std::string_view address, IpLocation* out);

  // While held (holds nest), a file already looked at is taken as unchanged:
  // the many lookups of an import look at the disk once, not once each.
  void Hold(bool on);

 private:
  struct Stamp {
    uint64_t size = 0;
    std::filesystem::file_time_type write_time{};
    bool operator==(const Stamp&) const = default;
  };

  IpLocationDb() = default;
  // Brings bytes_ up to date with the file on disk; false when there is no usable
  // content.
  bool Refresh();
  bool Search(const std::string& key, IpLocation* out) const;

  std::filesystem::path file_;
  bool in_memory_ = false;
  bool have_stamp_ = false;  // stamp_ describes the file bytes_ was read from
  Stamp stamp_;
  int holds_ = 0;
  bool looked_in_hold_ = false;  // the disk was looked at since the hold began
  std::string bytes_;
};

// The column text: trimmed country, a blank, trimmed area (the blank stays when
// the area is empty).
std::string LocationText(const IpLocation& loc);

// The search key "%03d.%03d.%03d.%03d" of `address`, built from the leading digits
// of its first four dot-separated parts after cutting the address to its leading
// run of blanks, digits and dots. Empty when that run has fewer than three dots.
// Parts above 999 give longer numbers; huge parts saturate at 2147483647.
std::string IpLookupKey(std::string_view address);

}  // namespace core
