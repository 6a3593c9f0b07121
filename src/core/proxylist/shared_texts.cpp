#include "core/proxylist/shared_texts.h"

namespace core {

SharedTexts::SharedTexts() { entries_.emplace_back(); }

uint32_t SharedTexts::Acquire(std::string_view text) {
  if (text.empty()) return kEmpty;
  if (auto it = ids_.find(text); it != ids_.end()) {
    ++entries_[it->second].holders;
    return it->second;
  }
  uint32_t id;
  if (!free_.empty()) {
    id = free_.back();
    free_.pop_back();
  } else {
    id = uint32_t(entries_.size());
    entries_.emplace_back();
  }
  Entry& e = entries_[id];
  e.text.assign(text);
  e.holders = 1;
  ids_.emplace(std::string_view(e.text), id);
  return id;
}

void SharedTexts::Release(uint32_t id) {
  if (id == kEmpty || id >= entries_.size()) return;
  Entry& e = entries_[id];
  if (e.holders == 0 || --e.holders > 0) return;
  ids_.erase(std::string_view(e.text));
  std::string().swap(e.text);  // a long result text gives its memory back
  free_.push_back(id);
}

void SharedTexts::Clear() {
  ids_.clear();
  free_.clear();
  entries_.clear();
  entries_.emplace_back();
}

}  // namespace core
