// A settings group's profile values as a table of fields: each names its key,
// its default, how odd stored values come back, and the member of the group's
// struct it fills. One reader and one writer serve every table. Tables are
// constant data; the functions run on the thread that owns the store.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/base/profile_store.h"

namespace core {

// Empty when `text` may be kept; otherwise why it may not.
using TextCheck = std::string (*)(std::string_view text);

// How one value is kept, as SettingField's constructors set it. A value stored
// with the other kind (text where a number belongs) reads as the default.
struct FieldRule {
  std::string_view key;
  int32_t number_default = 0;
  std::string_view text_default;
  int32_t min = 0, max = 0;
  bool choice = false;
  bool low_is_default = false;
  bool write_in_range = false;
  TextCheck check = nullptr;
  double (*parse)(std::string_view text) = nullptr;
  std::string (*format)(double value) = nullptr;
};

// The member's type gives the kind of value.
template <class S>
struct SettingField : FieldRule {
  // A number, written 1 or 0; on when non-zero, or with `only_one` (a
  // two-entry choice's index) only when 1.
  constexpr SettingField(std::string_view k, bool S::*m, bool on, bool only_one = false)
      : member(m) {
    key = k;
    number_default = on;
    choice = only_one;
  }
  // A number outside [min, max] is brought to the nearer end when read, or to
  // the default when below min and `low_default`; brought in before it is
  // written only with `write_clamped`.
  constexpr SettingField(std::string_view k, int32_t S::*m, int32_t def, int32_t lo, int32_t hi,
                         bool low_default = false, bool write_clamped = false)
      : member(m) {
    key = k;
    number_default = def;
    min = lo;
    max = hi;
    low_is_default = low_default;
    write_in_range = write_clamped;
  }
  // A text, trimmed when read. A text `check` refuses reads as the default and
  // is not written: the write fails with the check's reason.
  constexpr SettingField(std::string_view k, std::string S::*m, std::string_view def,
                         TextCheck refuse = nullptr)
      : member(m) {
    key = k;
    text_default = def;
    check = refuse;
  }
  // A number kept as text, within [min, max] when read.
  constexpr SettingField(std::string_view k, double S::*m, std::string_view def, int32_t lo,
                         int32_t hi, double (*from_text)(std::string_view),
                         std::string (*to_text)(double))
      : member(m) {
    key = k;
    text_default = def;
    min = lo;
    max = hi;
    parse = from_text;
    format = to_text;
  }
  // Words in one text, separated by blanks (by blanks, tabs or ';' when read);
  // words `check` refuses are left out. A missing value leaves the member's
  // list as it is.
  constexpr SettingField(std::string_view k, std::vector<std::string> S::*m,
                         TextCheck refuse = nullptr)
      : member(m) {
    key = k;
    check = refuse;
  }

  std::variant<bool S::*, int32_t S::*, double S::*, std::string S::*,
               std::vector<std::string> S::*>
      member;
};

void ReadField(ProfileStore&, std::string_view section, const FieldRule&, bool&);
void ReadField(ProfileStore&, std::string_view section, const FieldRule&, int32_t&);
void ReadField(ProfileStore&, std::string_view section, const FieldRule&, double&);
void ReadField(ProfileStore&, std::string_view section, const FieldRule&, std::string&);
void ReadField(ProfileStore&, std::string_view section, const FieldRule&,
               std::vector<std::string>&);
WriteStatus WriteField(ProfileStore&, std::string_view section, const FieldRule&, bool);
WriteStatus WriteField(ProfileStore&, std::string_view section, const FieldRule&, int32_t);
WriteStatus WriteField(ProfileStore&, std::string_view section, const FieldRule&, double);
WriteStatus WriteField(ProfileStore&, std::string_view section, const FieldRule&,
                       const std::string&);
WriteStatus WriteField(ProfileStore&, std::string_view section, const FieldRule&,
                       const std::vector<std::string>&);

// Sets every field's member from `section`; a missing value gives the field's
// default, whatever the member held.
template <class S, size_t N>
void ReadFields(ProfileStore& store, std::string_view section, const SettingField<S> (&fields)[N],
                S* settings) {
  for (const SettingField<S>& f : fields) {
    std::visit([&](auto m) { ReadField(store, section, f, settings->*m); }, f.member);
  }
}

// Writes every field in table order, going on past a refusal; fails with the
// first one.
template <class S, size_t N>
WriteStatus WriteFields(ProfileStore& store, std::string_view section,
                        const SettingField<S> (&fields)[N], const S& settings) {
  WriteStatus ok;
  for (const SettingField<S>& f : fields) {
    std::visit([&](auto m) { ok &= WriteField(store, section, f, settings.*m); }, f.member);
  }
  return ok;
}

}  // namespace core
