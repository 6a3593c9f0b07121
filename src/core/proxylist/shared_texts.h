// SharedTexts: the texts many rows of the proxy list have in common (locations,
// statuses, results), each kept once under a 32-bit id and counted, so a million
// rows that say "未验证" hold one copy of it. Owned by ProxyList; UI thread only.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace core {

class SharedTexts {
 public:
  // Id 0 is the empty text; it is never counted or released.
  static constexpr uint32_t kEmpty = 0;

  SharedTexts();
  SharedTexts(const SharedTexts&) = delete;
  SharedTexts& operator=(const SharedTexts&) = delete;

  // The id of `text`, counted once more. A view of a text stays valid until
  // its last holder releases it.
  uint32_t Acquire(std::string_view text);
  // Counts one holder more of an id that is held already.
  void AddHolder(uint32_t id) {
    if (id != kEmpty) ++entries_[id].holders;
  }
  // Counts one holder of `id` less; the text goes when none is left.
  void Release(uint32_t id);
  std::string_view Get(uint32_t id) const { return entries_[id].text; }
  // One more than the highest id given so far.
  size_t id_limit() const { return entries_.size(); }
  // Texts held by at least one row.
  size_t live() const { return ids_.size(); }
  // Forgets every text.
  void Clear();
  // Becomes a copy of `other` that serves Get only (a list's snapshot): the
  // lookup that Acquire needs is not copied, which keeps the copy cheap.
  void CopyForReading(const SharedTexts& other) {
    entries_ = other.entries_;
    free_.clear();
    ids_.clear();
  }

 private:
  struct Entry {
    std::string text;
    uint32_t holders = 0;
  };
  // A deque never moves its elements, so the views in ids_ stay put.
  std::deque<Entry> entries_;
  std::vector<uint32_t> free_;
  std::unordered_map<std::string_view, uint32_t> ids_;
};

}  // namespace core
