#include "core/download/download_settings.h"

#include <gtest/gtest.h>

#include "core/base/text.h"

namespace core {
namespace {

constexpr std::string_view kS = kDownloadSettingsSection;

std::string Numbered(int i) { return Format("Proxy File List URL (%02d)", i); }

DownloadSettingsFields FieldsOf(const DownloadSettings& s) {
  return {s.url,
          std::to_string(s.interval_hours),
          s.download_at_start,
          s.add_as_favorite,
          s.keep_existing,
          s.IsShortLived(s.url),
          std::to_string(s.refresh_seconds)};
}

TEST(DownloadSettingsTest, FirstRunAndItsFirstSave) {
  MemoryProfileStore store;
  DownloadSettings s;
  LoadDownloadSettings(store, &s);
  std::vector<std::string> urls(std::begin(kTemplateListUrls), std::end(kTemplateListUrls));
  urls.emplace_back(kDefaultListUrl);
  const int templates = int(std::size(kTemplateListUrls));
  EXPECT_EQ(s.urls, urls);
  EXPECT_EQ(s.url, kDefaultListUrl);
  EXPECT_EQ(s.SelectedUrlIndex(), templates);
  EXPECT_TRUE(s.keep_existing);
  EXPECT_FALSE(s.add_as_favorite);
  EXPECT_FALSE(s.download_at_start);
  EXPECT_EQ(s.interval_hours, 0);

  ASSERT_FALSE(ApplyDownloadSettingsFields(FieldsOf(s), &s).has_value());
  ASSERT_TRUE(SaveDownloadSettings(store, &s));
  for (int i = 0; i <= templates; ++i) {
    EXPECT_EQ(store.ReadText(kS, Numbered(i), ""), urls[size_t(i)]) << i;
  }
  EXPECT_EQ(store.ReadInt(kS, "Number of other Proxy File List URL", -1), templates + 1);
  EXPECT_EQ(store.ReadText(kS, "Proxy File List URL", ""), kDefaultListUrl);
  EXPECT_EQ(store.ReadInt(kS, "Append download proxies into list", -1), 1);
}

TEST(DownloadSettingsTest, TypedUrlIsTrimmedStoredAndOfferedAfterARestart) {
  MemoryProfileStore store;
  DownloadSettings s;
  LoadDownloadSettings(store, &s);
  ASSERT_FALSE(ApplyDownloadSettingsFields(
      {"  http://my.host/list.txt \t", " 3 ", true, true, false, true, "15"}, &s));
  ASSERT_TRUE(SaveDownloadSettings(store, &s));
  EXPECT_EQ(store.ReadText(kS, "Proxy File List URL", ""), "http://my.host/list.txt");
  const int templates = int(std::size(kTemplateListUrls));
  EXPECT_EQ(store.ReadText(kS, Numbered(templates + 1), ""), "http://my.host/list.txt");

  // Another URL configured later; the typed one stays on offer.
  DownloadSettings again;
  LoadDownloadSettings(store, &again);
  EXPECT_EQ(again.url, "http://my.host/list.txt");
  // The configured URL joins the entries before the numbered ones do.
  EXPECT_EQ(again.SelectedUrlIndex(), templates);
  EXPECT_TRUE(again.download_at_start);
  EXPECT_EQ(again.interval_hours, 3);
  EXPECT_TRUE(again.add_as_favorite);
  EXPECT_FALSE(again.keep_existing);
  EXPECT_TRUE(again.IsShortLived("HTTP://my.host/list.txt"));
  EXPECT_EQ(again.refresh_seconds, 15);
  DownloadSettingsFields f = FieldsOf(again);
  f.url = std::string(kTemplateListUrls[1]);
  f.short_lived = false;
  ASSERT_FALSE(ApplyDownloadSettingsFields(f, &again));
  ASSERT_TRUE(SaveDownloadSettings(store, &again));

  DownloadSettings third;
  LoadDownloadSettings(store, &third);
  EXPECT_EQ(third.url, kTemplateListUrls[1]);
  EXPECT_EQ(third.SelectedUrlIndex(), 1);
  std::vector<std::string> want(std::begin(kTemplateListUrls), std::end(kTemplateListUrls));
  want.push_back("http://my.host/list.txt");
  want.emplace_back(kDefaultListUrl);
  EXPECT_EQ(third.urls, want);
  // The tick belongs to its own URL.
  EXPECT_EQ(third.short_lived, std::vector<std::string>{"http://my.host/list.txt"});
}

TEST(DownloadSettingsTest, LoadSkipsBlankAndDuplicateUrlsAndBringsValuesIntoRange) {
  struct Case {
    const char* name;
    int32_t stored_interval;
    int32_t interval;
  } cases[] = {{"negative", -5, 0}, {"too large", 99999, 2400}, {"in range", 24, 24}};
  for (const Case& c : cases) {
    MemoryProfileStore store;
    EXPECT_TRUE(store.WriteText(kS, "Proxy File List URL", "  http://a/x.txt  "));
    EXPECT_TRUE(store.WriteInt(kS, "Auto download interval", c.stored_interval));
    EXPECT_TRUE(
        store.WriteInt(kS, "Auto download Proxy List when start", 7));  // any non-zero is on
    EXPECT_TRUE(store.WriteInt(kS, "Number of other Proxy File List URL", 2000000000));  // damaged
    EXPECT_TRUE(
        store.WriteText(kS, Numbered(0), "HTTP://A/X.TXT"));  // the configured one, other case
    EXPECT_TRUE(store.WriteText(kS, Numbered(1), "   "));
    EXPECT_TRUE(store.WriteText(kS, Numbered(2), std::string(kTemplateListUrls[0])));
    EXPECT_TRUE(store.WriteText(kS, Numbered(3), " ftp://b/list "));
    // 4 is missing altogether
    EXPECT_TRUE(store.WriteText(kS, Numbered(5), "ftp://B/list"));  // FTP host case only
    DownloadSettings s;
    LoadDownloadSettings(store, &s);
    EXPECT_EQ(s.url, "http://a/x.txt") << c.name;
    EXPECT_TRUE(s.download_at_start) << c.name;
    EXPECT_EQ(s.interval_hours, c.interval) << c.name;
    const size_t templates = std::size(kTemplateListUrls);
    ASSERT_EQ(s.urls.size(), templates + 2) << c.name;
    EXPECT_EQ(s.urls[templates], "http://a/x.txt") << c.name;
    EXPECT_EQ(s.urls[templates + 1], "ftp://b/list") << c.name;
    EXPECT_EQ(s.other_url_count, 1) << c.name;  // only ftp://b/list was new
  }
}

TEST(DownloadSettingsTest, CancelRestoresStoredValuesWithoutDuplicatingEntries) {
  MemoryProfileStore store;
  DownloadSettings s;
  LoadDownloadSettings(store, &s);
  EXPECT_TRUE(SaveDownloadSettings(store, &s));
  const std::vector<std::string> urls = s.urls;
  s.keep_existing = false;
  s.add_as_favorite = true;
  s.interval_hours = 9;
  s.url = "http://typed/but/cancelled";
  LoadDownloadSettings(store, &s);  // "取消"
  EXPECT_TRUE(s.keep_existing);
  EXPECT_FALSE(s.add_as_favorite);
  EXPECT_EQ(s.interval_hours, 0);
  EXPECT_EQ(s.url, kDefaultListUrl);
  EXPECT_EQ(s.urls, urls);
}

TEST(DownloadSettingsTest, ManyUrlsRoundTripPastTwoDigitNumbers) {
  MemoryProfileStore store;
  DownloadSettings s;
  LoadDownloadSettings(store, &s);
  for (int i = 0; i < 110; ++i) s.urls.push_back(Format("http://h%d/list.txt", i));
  ASSERT_TRUE(SaveDownloadSettings(store, &s));
  const int templates = int(std::size(kTemplateListUrls));
  EXPECT_EQ(s.other_url_count, templates + 1 + 110);
  // Entry 100 is the 100th after the templates and the default one.
  EXPECT_EQ(store.ReadText(kS, "Proxy File List URL (100)", ""),
            Format("http://h%d/list.txt", 100 - templates - 1));
  DownloadSettings back;
  LoadDownloadSettings(store, &back);
  EXPECT_EQ(back.urls, s.urls);
}

TEST(DownloadSettingsTest, IntervalCheck) {
  const std::string range = "“请填入一个在0和2400之间的整数。”";
  const std::string whole = "请键入一个整数。";
  const std::string seconds = "“请填入一个在10和86400之间的整数。”";
  struct Case {
    const char* text;
    std::optional<std::string> error;
    int32_t value;  // when accepted
    const char* refresh = "60";
    int bad_field = 0;  // when refused
  } cases[] = {
      {"1", std::nullopt, 1, "10"},
      {"1", std::nullopt, 1, "86400"},
      {"1", seconds, 0, "9", 1},
      {"1", seconds, 0, "86401", 1},
      {"1", whole, 0, "", 1},
      {"0", std::nullopt, 0},
      {"2400", std::nullopt, 2400},
      {" 7 ", std::nullopt, 7},
      {"+5", std::nullopt, 5},
      {"-1", range, 0},
      {"2401", range, 0},
      {"", whole, 0},
      {"abc", whole, 0},
      {"12a", whole, 0},
      {"3.5", whole, 0},
      {"99999999999", whole, 0},
      {"- 1", whole, 0},
  };
  for (const Case& c : cases) {
    DownloadSettings s;
    s.interval_hours = 42;
    s.url = "http://before/";
    int bad_field = -1;
    std::optional<std::string> error = ApplyDownloadSettingsFields(
        {"http://after/", c.text, true, true, false, false, c.refresh}, &s, &bad_field);
    EXPECT_EQ(error, c.error) << "'" << c.text << "' '" << c.refresh << "'";
    if (error) {
      EXPECT_EQ(bad_field, c.bad_field) << c.text;
      EXPECT_EQ(s.interval_hours, 42) << c.text;
      EXPECT_EQ(s.url, "http://before/") << c.text;
      EXPECT_FALSE(s.download_at_start) << c.text;
    } else {
      EXPECT_EQ(s.interval_hours, c.value) << c.text;
      EXPECT_EQ(s.url, "http://after/") << c.text;
    }
  }
}

TEST(DownloadSettingsTest, SelectionIsTheExactEntryNotAPrefix) {
  DownloadSettings s;
  s.urls = {"http://a/list.txt.bak", "http://a/LIST.txt", "http://a/list"};
  struct Case {
    const char* url;
    int index;
  } cases[] = {{"http://a/list.txt", 1}, {"http://a/list", 2}, {"http://a/li", -1}, {"", -1}};
  for (const Case& c : cases) {
    s.url = c.url;
    EXPECT_EQ(s.SelectedUrlIndex(), c.index) << c.url;
  }
}

TEST(DownloadSettingsTest, TheButtonFetchesTheUrlTheSettingsShow) {
  struct Case {
    std::string url;
    std::string_view fetched;
  } cases[] = {
      {"http://127.0.0.1/mine.txt", "http://127.0.0.1/mine.txt"},
      {"  ftp://127.0.0.1/list.txt ", "ftp://127.0.0.1/list.txt"},
      {"", kDefaultListUrl},
      {" \t ", kDefaultListUrl},
      {std::string(kDefaultListUrl), kDefaultListUrl},
  };
  for (const Case& c : cases) {
    DownloadSettings s;
    s.url = c.url;
    EXPECT_EQ(ButtonDownloadUrl(s), c.fetched) << c.url;
  }
}

}  // namespace
}  // namespace core
