#include "core/proxylist/mo_catalog.h"

#include <cstdint>

namespace core {
namespace {

constexpr uint32_t kMagic = 0x950412de;

class Reader {
 public:
  Reader(std::string_view bytes, bool big_endian) : bytes_(bytes), big_endian_(big_endian) {}

  // The 32-bit word at `at`; false when it lies past the end.
  bool Word(uint64_t at, uint32_t* out) const {
    if (at > bytes_.size() || bytes_.size() - at < 4) return false;
    const auto* u = reinterpret_cast<const unsigned char*>(bytes_.data() + at);
    *out = big_endian_ ? (uint32_t{u[0]} << 24 | uint32_t{u[1]} << 16 | uint32_t{u[2]} << 8 | u[3])
                       : (uint32_t{u[3]} << 24 | uint32_t{u[2]} << 16 | uint32_t{u[1]} << 8 | u[0]);
    return true;
  }

  // String number `i` of the table at `table`: a (length, offset) pair.
  bool String(uint64_t table, uint64_t i, std::string_view* out) const {
    uint32_t length = 0;
    uint32_t offset = 0;
    if (!Word(table + 8 * i, &length) || !Word(table + 8 * i + 4, &offset)) return false;
    if (offset > bytes_.size() || bytes_.size() - offset < length) return false;
    *out = bytes_.substr(offset, length);
    return true;
  }

 private:
  std::string_view bytes_;
  bool big_endian_;
};

std::string_view FirstForm(std::string_view s) { return s.substr(0, s.find('\0')); }

}  // namespace

std::optional<MoCatalog> ParseMoCatalog(std::string_view bytes, std::string* error) {
  uint32_t magic = 0;
  if (!Reader(bytes, false).Word(0, &magic)) {
    *error = "too short for a catalogue";
    return std::nullopt;
  }
  bool big_endian = false;
  if (magic != kMagic) {
    Reader(bytes, true).Word(0, &magic);
    if (magic != kMagic) {
      *error = "not a gettext catalogue (bad magic)";
      return std::nullopt;
    }
    big_endian = true;
  }
  const Reader reader(bytes, big_endian);
  uint32_t revision = 0, count = 0, originals = 0, translations = 0;
  if (!reader.Word(4, &revision) || !reader.Word(8, &count) || !reader.Word(12, &originals) ||
      !reader.Word(16, &translations)) {
    *error = "header cut short";
    return std::nullopt;
  }
  if ((revision >> 16) > 1) {
    *error = "unknown catalogue revision";
    return std::nullopt;
  }
  MoCatalog catalog;
  for (uint64_t i = 0; i < count; ++i) {
    std::string_view id, text;
    if (!reader.String(originals, i, &id) || !reader.String(translations, i, &text)) {
      *error = "string " + std::to_string(i) + " lies outside the file";
      return std::nullopt;
    }
    id = FirstForm(id);
    if (id.empty()) continue;
    catalog.emplace(std::string(id), std::string(FirstForm(text)));
  }
  return catalog;
}

}  // namespace core
