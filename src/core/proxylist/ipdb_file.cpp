#include "core/proxylist/ipdb_file.h"

#include <array>
#include <fstream>
#include <system_error>
#include <utility>

#include "core/base/json_reader.h"
#include "core/base/text.h"
#include "core/net/net_target.h"

namespace core {
namespace {

uint32_t ReadBe32(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return uint32_t{u[0]} << 24 | uint32_t{u[1]} << 16 | uint32_t{u[2]} << 8 | uint32_t{u[3]};
}

uint16_t ReadBe16(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return uint16_t(u[0] << 8 | u[1]);
}

// A whole non-negative number of the header; empty when absent or not one.
std::optional<int64_t> WholeNumber(const JsonValue& header, std::string_view name) {
  const JsonValue* v = header.Find(name);
  if (v == nullptr || v->kind != JsonValue::Kind::kNumber || v->text.empty() ||
      v->text.size() > 15) {
    return std::nullopt;
  }
  int64_t n = 0;
  for (char c : v->text) {
    if (!IsDigit(c)) return std::nullopt;
    n = n * 10 + (c - '0');
  }
  return n;
}

}  // namespace

std::optional<IpdbFile> IpdbFile::Open(const std::filesystem::path& file, std::string* error) {
  std::error_code ec;
  uint64_t size = std::filesystem::file_size(file, ec);
  if (ec) {
    *error = "cannot read the file";
    return std::nullopt;
  }
  if (size > kMaxFileBytes) {
    *error = "the file is too large for a location database";
    return std::nullopt;
  }
  std::ifstream in(file, std::ios::binary);
  std::string bytes(size_t(size), '\0');
  if (!in || !in.read(bytes.data(), std::streamsize(size))) {
    *error = "cannot read the file";
    return std::nullopt;
  }
  return FromBytes(std::move(bytes), error);
}

std::optional<IpdbFile> IpdbFile::FromBytes(std::string bytes, std::string* error) {
  auto refuse = [error](const char* why) -> std::optional<IpdbFile> {
    *error = why;
    return std::nullopt;
  };
  if (bytes.size() < 4) return refuse("the file is too short");
  uint32_t header_size = ReadBe32(bytes.data());
  if (header_size == 0 || header_size > bytes.size() - 4) {
    return refuse("the header runs past the end of the file");
  }
  std::string json_error;
  std::optional<JsonValue> header =
      ParseJson(std::string_view(bytes).substr(4, header_size), &json_error);
  if (!header || header->kind != JsonValue::Kind::kObject) {
    return refuse("the header is not readable");
  }
  auto number = [&header](const char* name) { return WholeNumber(*header, name); };
  IpdbFile db;
  std::optional<int64_t> nodes = number("node_count");
  if (!nodes || *nodes <= 0 || *nodes > int64_t{1} << 28) {
    return refuse("the header has no usable node count");
  }
  db.node_count_ = uint32_t(*nodes);
  db.data_ = 4 + size_t(header_size);
  size_t data_size = bytes.size() - db.data_;
  if (header->Find("total_size") != nullptr) {
    std::optional<int64_t> total = number("total_size");
    if (!total || uint64_t(*total) != data_size) {
      return refuse("the file is truncated or has bytes past its end");
    }
  }
  if (uint64_t(db.node_count_) * 8 > data_size) return refuse("the trie runs past the end of the file");
  const JsonValue* fields = header->Find("fields");
  if (fields == nullptr || fields->kind != JsonValue::Kind::kArray || fields->items.empty()) {
    return refuse("the header names no fields");
  }
  db.field_count_ = fields->items.size();
  const JsonValue* languages = header->Find("languages");
  if (languages != nullptr && languages->kind == JsonValue::Kind::kObject &&
      !languages->members.empty()) {
    // Chinese names when the file has them, else the first language.
    std::optional<int64_t> offset = WholeNumber(*languages, "CN");
    if (languages->Find("CN") == nullptr) {
      offset = WholeNumber(*languages, languages->members.front().first);
    }
    if (!offset || *offset > 1024) return refuse("the header's languages are not usable");
    db.language_offset_ = size_t(*offset);
  }
  for (size_t i = 0; i < fields->items.size(); ++i) {
    const std::string& name = fields->items[i].text;
    if (name == "country_name") db.country_ = int(i);
    if (name == "region_name") db.region_ = int(i);
    if (name == "city_name") db.city_ = int(i);
    if (name == "district_name") db.district_ = int(i);
    if (name == "isp_domain") db.isp_ = int(i);
  }
  if (db.country_ < 0) return refuse("the header names no country field");
  db.build_ = number("build").value_or(0);
  // The IPv4 root: named by the header, or found by walking the 96 leading bits
  // of an IPv4-mapped address (80 zeros, 16 ones).
  db.bytes_ = std::move(bytes);
  if (header->Find("v4node") != nullptr) {
    std::optional<int64_t> v4 = number("v4node");
    if (!v4 || *v4 >= db.node_count_) return refuse("the IPv4 root lies outside the trie");
    db.v4_root_ = uint32_t(*v4);
  } else {
    uint32_t node = 0;
    for (int i = 0; i < 96 && node < db.node_count_; ++i) {
      node = ReadBe32(db.bytes_.data() + db.data_ + size_t(node) * 8 + (i >= 80 ? 4 : 0));
    }
    if (node >= db.node_count_) return refuse("the file holds no IPv4 part");
    db.v4_root_ = node;
  }
  return db;
}

std::optional<std::string_view> IpdbFile::RecordAt(uint32_t node) const {
  // A child above the node count points at a record: its offset counts from
  // the end of the trie.
  uint64_t offset = uint64_t(node) - node_count_ + uint64_t(node_count_) * 8;
  size_t data_size = bytes_.size() - data_;
  if (offset + 2 > data_size) return std::nullopt;
  const char* at = bytes_.data() + data_ + offset;
  uint16_t size = ReadBe16(at);
  if (offset + 2 + size > data_size) return std::nullopt;
  return std::string_view(at + 2, size);
}

bool IpdbFile::Lookup(std::string_view dotted_quad, IpdbRecord* out) const {
  uint32_t address = 0;
  std::array<uint8_t, 16> bytes{};
  if (ClassifyHost(Trim(dotted_quad), &bytes) != HostKind::kIpv4) return false;
  address = uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
  uint32_t node = v4_root_;
  // At most 32 steps: a trie whose children loop back ends there, not found.
  for (int bit = 31; bit >= 0 && node < node_count_; --bit) {
    node = ReadBe32(bytes_.data() + data_ + size_t(node) * 8 + ((address >> bit) & 1) * 4);
  }
  if (node <= node_count_) return false;  // no record, or still inside the trie
  std::optional<std::string_view> record = RecordAt(node);
  if (!record) return false;
  std::vector<std::string_view> fields;
  std::string_view rest = *record;
  for (;;) {
    size_t tab = rest.find('\t');
    fields.push_back(rest.substr(0, tab));
    if (tab == std::string_view::npos) break;
    rest.remove_prefix(tab + 1);
  }
  auto field = [&](int index) -> std::string {
    if (index < 0) return {};
    size_t at = language_offset_ + size_t(index);
    return at < fields.size() ? std::string(Trim(fields[at])) : std::string();
  };
  // A record without the country of the language used is no record.
  if (language_offset_ + size_t(country_) >= fields.size()) return false;
  out->country = field(country_);
  out->region = field(region_);
  out->city = field(city_);
  out->district = field(district_);
  out->isp = field(isp_);
  return true;
}

std::string IpdbLocationText(const IpdbRecord& record) {
  std::string area = record.region;
  if (record.city != record.region) area += record.city;
  area += record.district;
  std::string text;
  for (const std::string* part : {&record.country, static_cast<const std::string*>(&area), &record.isp}) {
    if (part->empty()) continue;
    if (!text.empty()) text += ' ';
    text += *part;
  }
  return text;
}

}  // namespace core
