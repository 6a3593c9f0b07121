#include "core/base/settings_table.h"

#include <gtest/gtest.h>

#include <charconv>
#include <climits>

#include "core/base/text.h"

namespace core {
namespace {

constexpr std::string_view kSection = "Probe";

std::string NoX(std::string_view text) {
  return text.find('x') == std::string_view::npos ? "" : "has an x";
}
double ParseNumber(std::string_view text) {
  double value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}
std::string FormatNumber(double value) { return Format("%g", value); }

struct Probe {
  bool flag = false, choice = true;
  int32_t count = -1, deadline = -1;
  std::string text = "junk", checked = "junk";
  double number = -1;
  std::vector<std::string> words{"kept"};
};

constexpr SettingField<Probe> kFields[] = {
    {"flag", &Probe::flag, true},
    {"choice", &Probe::choice, false, /*only_one=*/true},
    {"count", &Probe::count, 30, 1, 200},
    {"deadline", &Probe::deadline, 10, 1, 60, /*low_default=*/true, /*write_clamped=*/true},
    {"text", &Probe::text, "def"},
    {"checked", &Probe::checked, "plain", NoX},
    {"number", &Probe::number, "4.5", 0, 50, ParseNumber, FormatNumber},
    {"words", &Probe::words, NoX},
};

std::string Show(std::monostate) { return "(missing)"; }
std::string Show(bool v) { return v ? "on" : "off"; }
std::string Show(int32_t v) { return std::to_string(v); }
std::string Show(double v) { return FormatNumber(v); }
std::string Show(const std::string& v) { return "'" + v + "'"; }
std::string Show(const std::vector<std::string>& v) {
  std::string text;
  for (const std::string& word : v) text += "[" + word + "]";
  return text;
}
template <class... T>
std::string Show(const std::variant<T...>& v) {
  return std::visit([](const auto& x) { return Show(x); }, v);
}
std::string Member(const Probe& p, std::string_view key) {
  for (const SettingField<Probe>& f : kFields) {
    if (f.key == key) return std::visit([&](auto m) { return Show(p.*m); }, f.member);
  }
  return "no such field";
}

using Stored = std::variant<std::monostate, int32_t, std::string>;

TEST(SettingsTableTest, OddStoredValuesReadAsTheFieldSays) {
  // Per field: a stored value ({}: none), and the member after the read.
  struct Case {
    std::string_view key;
    std::vector<std::pair<Stored, std::string>> reads;
  } cases[] = {
      {"flag", {{{}, "on"}, {0, "off"}, {-7, "on"}, {"0", "on"}}},
      {"choice", {{{}, "off"}, {1, "on"}, {2, "off"}, {-1, "off"}}},
      {"count", {{{}, "30"}, {0, "1"}, {INT32_MIN, "1"}, {201, "200"}, {INT32_MAX, "200"}}},
      {"count", {{"50", "30"}}},
      {"deadline", {{0, "10"}, {-4, "10"}, {61, "60"}, {1, "1"}}},
      {"text", {{{}, "'def'"}, {" \t a b\r\n", "'a b'"}, {"", "''"}, {5, "'def'"}}},
      {"checked", {{" x ", "'plain'"}, {" ok ", "'ok'"}}},
      {"number", {{{}, "4.5"}, {"1e9", "50"}, {"-3", "0"}, {"abc", "0"}, {7, "4.5"}}},
      {"words", {{{}, "[kept]"}, {3, "[kept]"}, {"", ""}, {" a ;;b\tx c ", "[a][b][c]"}}},
  };
  for (const Case& c : cases) {
    for (const auto& [stored, want] : c.reads) {
      MemoryProfileStore store;
      if (auto* n = std::get_if<int32_t>(&stored)) {
        EXPECT_TRUE(store.WriteInt(kSection, c.key, *n));
      }
      if (auto* t = std::get_if<std::string>(&stored)) {
        EXPECT_TRUE(store.WriteText(kSection, c.key, *t));
      }
      Probe p;
      ReadFields(store, kSection, kFields, &p);
      EXPECT_EQ(Member(p, c.key), want) << c.key << " stored as " << Show(stored);
    }
  }
}

TEST(SettingsTableTest, WritesEveryFieldAndReportsTheFirstRefusal) {
  Probe p{true, true, 500, 99, "t", "ok", 2.25, {"a", "xx", "b"}};
  struct Case {
    int changes_left;  // -1: no limit
    std::string checked;
    std::string reason;  // empty: written
    size_t written;
  } cases[] = {
      {-1, "ok", "", 8},
      {-1, "x", "has an x", 7},
      {2, "x", "Probe\\count: 只读", 2},
  };
  for (const Case& c : cases) {
    MemoryProfileStore store;
    store.set_changes_left(c.changes_left);
    p.checked = c.checked;
    WriteStatus status = WriteFields(store, kSection, kFields, p);
    EXPECT_EQ(status.ok(), c.reason.empty()) << c.checked << c.changes_left;
    EXPECT_EQ(status.reason(), c.reason) << c.checked << c.changes_left;
    EXPECT_EQ(store.values().size(), c.written) << c.checked << c.changes_left;
  }
  // As stored: flags as 1, numbers as they are unless kept in range on writing.
  MemoryProfileStore store;
  p.checked = "ok";
  ASSERT_TRUE(WriteFields(store, kSection, kFields, p));
  std::string stored;
  for (const auto& [key, value] : store.values()) stored += key.second + "=" + Show(value) + " ";
  EXPECT_EQ(stored,
            "checked='ok' choice=1 count=500 deadline=60 flag=1 number='2.25' text='t' "
            "words='a b' ");
}

}  // namespace
}  // namespace core
