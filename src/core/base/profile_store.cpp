#include "core/base/profile_store.h"

namespace core {
namespace {
std::pair<std::string, std::string> Key(std::string_view section, std::string_view name) {
  return {std::string(section), std::string(name)};
}
}  // namespace

int32_t MemoryProfileStore::ReadInt(std::string_view section, std::string_view name, int32_t def) {
  auto it = values_.find(Key(section, name));
  if (it == values_.end() || !std::holds_alternative<int32_t>(it->second)) return def;
  return std::get<int32_t>(it->second);
}

std::string MemoryProfileStore::ReadText(std::string_view section, std::string_view name,
                                         std::string_view def) {
  auto it = values_.find(Key(section, name));
  if (it == values_.end() || !std::holds_alternative<std::string>(it->second)) {
    return std::string(def);
  }
  return std::get<std::string>(it->second);
}

bool MemoryProfileStore::MayChange() {
  if (read_only_ || changes_left_ == 0) return false;
  if (changes_left_ > 0) --changes_left_;
  return true;
}

bool MemoryProfileStore::WriteInt(std::string_view section, std::string_view name, int32_t value) {
  if (!MayChange()) return false;
  values_[Key(section, name)] = value;
  return true;
}

bool MemoryProfileStore::WriteText(std::string_view section, std::string_view name,
                                   std::string_view value) {
  if (!MayChange()) return false;
  values_[Key(section, name)] = std::string(value);
  return true;
}

bool MemoryProfileStore::DeleteValue(std::string_view section, std::string_view name) {
  if (!MayChange()) return false;
  values_.erase(Key(section, name));
  return true;
}

bool MemoryProfileStore::Has(std::string_view section, std::string_view name) const {
  return values_.count(Key(section, name)) != 0;
}

}  // namespace core
