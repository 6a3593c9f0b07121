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

WriteStatus MemoryProfileStore::MayChange(std::string_view section, std::string_view name) {
  if (read_only_ || changes_left_ == 0) {
    return WriteStatus::Failed(std::string(section) + "\\" + std::string(name) + ": 只读");
  }
  if (changes_left_ > 0) --changes_left_;
  return WriteStatus::Ok();
}

WriteStatus MemoryProfileStore::WriteInt(std::string_view section, std::string_view name,
                                         int32_t value) {
  WriteStatus may = MayChange(section, name);
  if (may) values_[Key(section, name)] = value;
  return may;
}

WriteStatus MemoryProfileStore::WriteText(std::string_view section, std::string_view name,
                                          std::string_view value) {
  WriteStatus may = MayChange(section, name);
  if (may) values_[Key(section, name)] = std::string(value);
  return may;
}

WriteStatus MemoryProfileStore::DeleteValue(std::string_view section, std::string_view name) {
  WriteStatus may = MayChange(section, name);
  if (may) values_.erase(Key(section, name));
  return may;
}

bool MemoryProfileStore::Has(std::string_view section, std::string_view name) const {
  return values_.count(Key(section, name)) != 0;
}

}  // namespace core
