// Test support: writes small IP-location files in the IPDB layout, so that
// tests of the reader and of its users need no real database.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace core::testing {

// Writes a small IPDB file: the IPv4 trie of the given prefixes, rooted at node
// 0 (the header names it), and their records.
class IpdbBuilder {
 public:
  // `mapped`: the IPv4 trie hangs under the IPv4-mapped prefix of an IPv6 trie
  // (80 zero bits, then 16 one bits), as in files with both address kinds.
  explicit IpdbBuilder(bool mapped = false) {
    if (!mapped) return;
    for (int i = 0; i < 96; ++i) {
      nodes_.push_back({});
      nodes_[size_t(i)][i >= 80 ? 1 : 0] = {Child::kNode, i + 1};
    }
    v4_root_ = 96;
  }
  void Add(uint32_t prefix, int bits, std::string record) {
    int node = v4_root_;
    for (int i = 0; i < bits; ++i) {
      int bit = (prefix >> (31 - i)) & 1;
      if (i == bits - 1) {
        nodes_[size_t(node)][bit] = {Child::kRecord, int(records_.size())};
        records_.push_back(record);
        break;
      }
      if (nodes_[size_t(node)][bit].kind != Child::kNode) {
        nodes_.push_back({});  // may move the nodes: no reference is held across it
        nodes_[size_t(node)][bit] = {Child::kNode, int(nodes_.size() - 1)};
      }
      node = nodes_[size_t(node)][bit].index;
    }
  }
  // Header fields beyond node_count and total_size, as JSON members.
  std::string header_extra =
      R"("ip_version":1,"languages":{"CN":0},"fields":["country_name","region_name",)"
      R"("city_name","district_name","owner_domain","isp_domain"],"v4node":0)";
  // Overrides a child with a raw value (a pointer past the end, a loop).
  std::map<std::pair<int, int>, uint32_t> raw;

  std::string Bytes() const {
    uint32_t count = uint32_t(nodes_.size());
    std::string records(2, '\0');  // offset 0 would read as "no record"
    std::vector<uint32_t> offsets;
    for (const std::string& r : records_) {
      offsets.push_back(uint32_t(records.size()));
      records.push_back(char(r.size() >> 8));
      records.push_back(char(r.size() & 0xFF));
      records += r;
    }
    std::string trie;
    for (size_t n = 0; n < nodes_.size(); ++n) {
      for (int bit = 0; bit < 2; ++bit) {
        const Child& c = nodes_[n][bit];
        uint32_t v = c.kind == Child::kNode     ? uint32_t(c.index)
                     : c.kind == Child::kRecord ? count + offsets[size_t(c.index)]
                                                : count;
        auto it = raw.find({int(n), bit});
        if (it != raw.end()) v = it->second;
        for (int shift = 24; shift >= 0; shift -= 8) trie.push_back(char(v >> shift));
      }
    }
    std::string data = trie + records;
    std::string header = "{\"node_count\":" + std::to_string(count) +
                         ",\"total_size\":" + std::to_string(data.size()) + "," + header_extra + "}";
    std::string out;
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(char(header.size() >> shift));
    return out + header + data;
  }

 private:
  struct Child {
    enum Kind { kNone, kNode, kRecord } kind = kNone;
    int index = 0;
  };
  std::vector<std::array<Child, 2>> nodes_{1};
  std::vector<std::string> records_;
  int v4_root_ = 0;
};

}  // namespace core::testing
