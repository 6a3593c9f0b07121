#include "core/base/settings_table.h"

#include <algorithm>

#include "core/base/text.h"

namespace core {
namespace {

bool Refused(const FieldRule& rule, std::string_view text) {
  return rule.check != nullptr && !rule.check(text).empty();
}

}  // namespace

void ReadField(ProfileStore& store, std::string_view section, const FieldRule& rule, bool& value) {
  int32_t stored = store.ReadInt(section, rule.key, rule.number_default);
  value = rule.choice ? stored == 1 : stored != 0;
}

void ReadField(ProfileStore& store, std::string_view section, const FieldRule& rule,
               int32_t& value) {
  int32_t stored = store.ReadInt(section, rule.key, rule.number_default);
  if (stored < rule.min && rule.low_is_default) stored = rule.number_default;
  value = std::clamp(stored, rule.min, rule.max);
}

void ReadField(ProfileStore& store, std::string_view section, const FieldRule& rule,
               double& value) {
  double stored = rule.parse(store.ReadText(section, rule.key, rule.text_default));
  value = std::clamp(stored, double(rule.min), double(rule.max));
}

void ReadField(ProfileStore& store, std::string_view section, const FieldRule& rule,
               std::string& value) {
  std::string stored(Trim(store.ReadText(section, rule.key, rule.text_default)));
  value = Refused(rule, stored) ? std::string(rule.text_default) : std::move(stored);
}

void ReadField(ProfileStore& store, std::string_view section, const FieldRule& rule,
               std::vector<std::string>& value) {
  // A marker no word list can hold tells a missing value from an empty one.
  constexpr std::string_view kMissing = "\x01";
  std::string stored = store.ReadText(section, rule.key, kMissing);
  if (stored == kMissing) return;
  value.clear();
  std::string_view rest = stored;
  while (!rest.empty()) {
    size_t end = rest.find_first_of(" \t;");
    std::string_view word = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (!word.empty() && !Refused(rule, word)) value.emplace_back(word);
  }
}

WriteStatus WriteField(ProfileStore& store, std::string_view section, const FieldRule& rule,
                       bool value) {
  return store.WriteInt(section, rule.key, value ? 1 : 0);
}

WriteStatus WriteField(ProfileStore& store, std::string_view section, const FieldRule& rule,
                       int32_t value) {
  if (rule.write_in_range) value = std::clamp(value, rule.min, rule.max);
  return store.WriteInt(section, rule.key, value);
}

WriteStatus WriteField(ProfileStore& store, std::string_view section, const FieldRule& rule,
                       double value) {
  return store.WriteText(section, rule.key, rule.format(value));
}

WriteStatus WriteField(ProfileStore& store, std::string_view section, const FieldRule& rule,
                       const std::string& value) {
  if (rule.check != nullptr) {
    std::string error = rule.check(value);
    if (!error.empty()) return WriteStatus::Failed(std::move(error));
  }
  return store.WriteText(section, rule.key, value);
}

WriteStatus WriteField(ProfileStore& store, std::string_view section, const FieldRule& rule,
                       const std::vector<std::string>& value) {
  std::string text;
  for (const std::string& word : value) {
    if (word.empty() || Refused(rule, word)) continue;
    if (!text.empty()) text += ' ';
    text += word;
  }
  return store.WriteText(section, rule.key, text);
}

}  // namespace core
