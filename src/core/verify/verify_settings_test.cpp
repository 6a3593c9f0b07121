#include "core/verify/verify_settings.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/base/secret_codec_testing.h"
#include "core/verify/site_editor.h"

namespace core {
namespace {

constexpr std::string_view kV = kVerifySettingsSection;
constexpr std::string_view kD = kDestinationSitesSection;

TEST(VerifySettingsTest, EmptyProfileGivesDefaultsAndSeedsOneTickedSite) {
  MemoryProfileStore store;
  VerifySettings s = LoadVerifySettings(store);
  EXPECT_EQ(s.threads, 30);
  EXPECT_TRUE(s.reverify_by_time);
  EXPECT_EQ(s.reverify_interval, 60);
  EXPECT_FALSE(s.only_favorite_rows);
  EXPECT_TRUE(s.reset_favorites);
  EXPECT_TRUE(s.add_best);
  EXPECT_EQ(s.best_count, 8);
  EXPECT_TRUE(s.add_http);
  EXPECT_TRUE(s.add_socks);
  EXPECT_FALSE(s.add_ftp);
  EXPECT_TRUE(s.detect_untyped_type);
  EXPECT_DOUBLE_EQ(s.time_less_than, 4.5);
  ASSERT_EQ(s.sites.size(), 1u);
  EXPECT_EQ(s.sites[0].url, "https://example.com/");
  EXPECT_EQ(s.sites[0].verify_string, "Example Domain");
  // The built-in site passes the site editor's own check: its verify string
  // is not part of its URL, so an error page quoting the URL does not match.
  SiteEditorResult checked;
  EXPECT_FALSE(ConfirmSiteEditor({s.sites[0].url, "", "", s.sites[0].verify_string}, &checked));
  EXPECT_EQ(s.FavoriteSiteCount(), 1);
  // Saved at once, with the time in its stored form.
  EXPECT_EQ(store.ReadText(kV, "Time less than", ""), "4.500000 seconds");
  EXPECT_EQ(store.ReadInt(kD, "Favorite site", -1), 1);
  EXPECT_EQ(store.ReadText(kD, "Favorite site_000_URL", ""), "https://example.com/");
  EXPECT_EQ(store.ReadInt(kD, "Unfavorite site", -1), 0);
}

TEST(VerifySettingsTest, SeedingDoesNotGrowTheList) {
  MemoryProfileStore store;
  VerifySettings s = LoadVerifySettings(store);
  s.sites[0].favorite = false;  // the user unticks the only site
  EXPECT_TRUE(SaveVerifySettings(s, store));
  for (int i = 0; i < 3; ++i) {
    VerifySettings again = LoadVerifySettings(store);
    ASSERT_EQ(again.sites.size(), 1u) << "load " << i;
    EXPECT_EQ(again.FavoriteSiteCount(), 0);
  }
}

TEST(VerifySettingsTest, RoundTripOfEveryOption) {
  MemoryProfileStore store;
  VerifySettings s;
  s.threads = 200;
  s.verify_new_proxy = true;
  s.reverify_by_time = false;
  s.reverify_interval = 0;
  s.only_favorite_rows = true;
  s.auto_use_best = false;
  s.auto_delete_failed = true;
  s.reset_favorites = false;
  s.add_best = false;
  s.best_count = 50;
  s.add_link_time_less = true;
  s.time_less_than = 2.25;
  s.only_selected_types = false;
  s.add_http = false;
  s.add_socks = false;
  s.add_ftp = true;
  s.detect_untyped_type = false;
  s.sites = {{"http://a/", "A", false}, {"http://b/", "B", true}, {"ftp://c/", "", false}};
  ASSERT_TRUE(SaveVerifySettings(s, store));
  VerifySettings r = LoadVerifySettings(store);
  EXPECT_EQ(r.threads, 200);
  EXPECT_TRUE(r.verify_new_proxy);
  EXPECT_FALSE(r.reverify_by_time);
  EXPECT_EQ(r.reverify_interval, 0);
  EXPECT_TRUE(r.only_favorite_rows);
  EXPECT_FALSE(r.auto_use_best);
  EXPECT_TRUE(r.auto_delete_failed);
  EXPECT_FALSE(r.reset_favorites);
  EXPECT_FALSE(r.add_best);
  EXPECT_EQ(r.best_count, 50);
  EXPECT_TRUE(r.add_link_time_less);
  EXPECT_DOUBLE_EQ(r.time_less_than, 2.25);
  EXPECT_FALSE(r.only_selected_types);
  EXPECT_FALSE(r.add_http);
  EXPECT_FALSE(r.add_socks);
  EXPECT_TRUE(r.add_ftp);
  EXPECT_FALSE(r.detect_untyped_type);
  // Saved as one favorite and two others; the favorite comes first after a load.
  EXPECT_EQ(store.ReadInt(kD, "Favorite site", 0), 1);
  EXPECT_EQ(store.ReadInt(kD, "Unfavorite site", 0), 2);
  EXPECT_EQ(store.ReadText(kD, "Unfavorite site_001_URL", ""), "ftp://c/");
  ASSERT_EQ(r.sites.size(), 3u);
  EXPECT_EQ(r.sites[0].url, "http://b/");
  EXPECT_TRUE(r.sites[0].favorite);
  EXPECT_EQ(r.sites[1].url, "http://a/");
  EXPECT_EQ(r.sites[2].url, "ftp://c/");
  EXPECT_FALSE(r.sites[2].favorite);
}

TEST(VerifySettingsTest, SitePasswordsAreSealedApartForTheirSite) {
  const std::vector<VerifySite> sites = {
      {"ftp://u:secret@h/", "", true}, {"http://b/", "B", true}, {"ftp://:pw@c/", "", false}};
  struct Case {
    const char* name;
    char load_key;
    int lost;
    const char* urls;                                 // after the load, blank-separated
    std::function<void(MemoryProfileStore&)> change;  // between the save and the load
  } cases[] = {
      {"the same user opens them", 'k', 0, "ftp://u:secret@h/ http://b/ ftp://:pw@c/", nullptr},
      {"another user cannot", 'o', 2, "ftp://u@h/ http://b/ ftp://@c/", nullptr},
      {"a damaged value, or one pasted onto another site, loses that password only", 'k', 2,
       "ftp://u@h/ http://b/ ftp://@c/",
       [](MemoryProfileStore& st) {
         EXPECT_TRUE(st.WriteText(kD, "Favorite site_000_Login",
                                  st.ReadText(kD, "Unfavorite site_000_Login", "")));
         EXPECT_TRUE(st.WriteText(kD, "Unfavorite site_000_Login", "not base64!"));
       }},
      {"an older profile's password in the URL still loads", 'k', 0,
       "ftp://u:old@h/ http://b/ ftp://:pw@c/",
       [](MemoryProfileStore& st) {
         EXPECT_TRUE(st.WriteText(kD, "Favorite site_000_URL", "ftp://u:old@h/"));
         EXPECT_TRUE(st.DeleteValue(kD, "Favorite site_000_Login"));
       }},
      {"saved again without a codec: no password, no sealed value left", 'k', 0,
       "ftp://u@h/ http://b/ ftp://@c/",
       [&sites](MemoryProfileStore& st) {
         VerifySettings again;
         again.sites = sites;
         int unsaved = -1;
         EXPECT_TRUE(SaveVerifySettings(again, st, nullptr, &unsaved));
         EXPECT_EQ(unsaved, 2);
       }},
  };
  for (const Case& c : cases) {
    MemoryProfileStore store;
    XorSecretCodec codec('k');
    VerifySettings saved;
    saved.sites = sites;
    int unsaved = -1;
    ASSERT_TRUE(SaveVerifySettings(saved, store, &codec, &unsaved));
    EXPECT_EQ(unsaved, 0) << c.name;
    EXPECT_EQ(store.ReadText(kD, "Favorite site_000_URL", ""), "ftp://u@h/") << c.name;
    if (c.change) c.change(store);
    XorSecretCodec loader(c.load_key);
    LoadedSitesNote note;
    VerifySettings loaded = LoadVerifySettings(store, &loader, &note);
    std::string urls;
    for (const VerifySite& site : loaded.sites) urls += (urls.empty() ? "" : " ") + site.url;
    EXPECT_EQ(urls, c.urls) << c.name;
    EXPECT_EQ(note.passwords_lost, c.lost) << c.name;
    EXPECT_EQ(note.message.empty(), c.lost == 0) << c.name;
    // The next save seals whatever came back, clear or not, and keeps it.
    ASSERT_TRUE(SaveVerifySettings(loaded, store, &loader));
    EXPECT_EQ(store.ReadText(kD, "Favorite site_000_URL", ""), "ftp://u@h/") << c.name;
    EXPECT_EQ(LoadVerifySettings(store, &loader).sites.front().url, loaded.sites.front().url)
        << c.name;
  }
}

TEST(VerifySettingsTest, StoredSitesAreTrimmedAndEmptyUrlsDropped) {
  MemoryProfileStore store;
  EXPECT_TRUE(store.WriteInt(kD, "Favorite site", 3));
  EXPECT_TRUE(store.WriteText(kD, "Favorite site_000_URL", "  http://x/  "));
  EXPECT_TRUE(store.WriteText(kD, "Favorite site_000_VerifyString", "\tabc "));
  EXPECT_TRUE(store.WriteText(kD, "Favorite site_001_URL", "   "));
  // 002 is missing altogether
  EXPECT_TRUE(store.WriteInt(kD, "Unfavorite site", 2000000000));  // damaged count
  EXPECT_TRUE(store.WriteText(kD, "Unfavorite site_000_URL", "ftp://y/"));
  VerifySettings s = LoadVerifySettings(store);
  ASSERT_EQ(s.sites.size(), 2u);
  EXPECT_EQ(s.sites[0].url, "http://x/");
  EXPECT_EQ(s.sites[0].verify_string, "abc");
  EXPECT_EQ(s.sites[1].url, "ftp://y/");
}

TEST(VerifySettingsTest, StoredValuesOutOfRangeAreBroughtIn) {
  MemoryProfileStore store;
  EXPECT_TRUE(store.WriteInt(kV, "Verify threads number", 100000));
  EXPECT_TRUE(store.WriteInt(kV, "Reverify interval", -5));
  EXPECT_TRUE(store.WriteInt(kV, "Number of best proxies", 51));
  EXPECT_TRUE(store.WriteText(kV, "Time less than", "1e9 seconds"));
  VerifySettings s = LoadVerifySettings(store);
  EXPECT_EQ(s.threads, 200);
  EXPECT_EQ(s.reverify_interval, 0);
  EXPECT_EQ(s.best_count, 50);
  EXPECT_DOUBLE_EQ(s.time_less_than, 1);  // the number ends before the exponent
  EXPECT_TRUE(store.WriteInt(kV, "Verify threads number", 0));
  EXPECT_EQ(LoadVerifySettings(store).threads, 1);
}

TEST(VerifySettingsTest, ConnectsInFlightDefaultsAndIsBroughtIntoRange) {
  struct Case {
    std::optional<int32_t> stored;
    int32_t loaded;
  } cases[] = {{std::nullopt, 1000}, {0, 1},         {-7, 1},        {1, 1},
               {250, 250},           {10000, 10000}, {10001, 10000}, {2000000000, 10000}};
  for (const Case& c : cases) {
    MemoryProfileStore store;
    if (c.stored) {
      EXPECT_TRUE(store.WriteInt(kV, "Connects in flight", *c.stored));
    }
    VerifySettings s = LoadVerifySettings(store);
    EXPECT_EQ(s.connects_in_flight, c.loaded) << (c.stored ? *c.stored : -1);
    s.connects_in_flight = 321;
    ASSERT_TRUE(SaveVerifySettings(s, store));
    EXPECT_EQ(store.ReadInt(kV, "Connects in flight", 0), 321);
  }
}

TEST(VerifySettingsTest, SecondsTexts) {
  struct Case {
    const char* text;
    double value;
  } cases[] = {
      {"4.500000 seconds", 4.5}, {"3 seconds", 3.0},  {"seconds", 0},     {"", 0},
      {"  7.25", 7.25},          {".5 seconds", 0.5}, {"12.seconds", 12}, {"-1 seconds", -1},
      {"nan seconds", 0},        {"inf", 0},          {"+2", 2},
  };
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(ParseSecondsText(c.text), c.value) << c.text;
  EXPECT_EQ(FormatSecondsText(4.5), "4.500000 seconds");
  EXPECT_EQ(FormatSecondsText(0), "0.000000 seconds");
  EXPECT_EQ(FormatSecondsText(50), "50.000000 seconds");
}

TEST(VerifySettingsTest, FieldsAccepted) {
  VerifySettings s;
  ASSERT_FALSE(ApplyVerifySettingsFields({" 1 ", "300", "0", "50"}, &s).has_value());
  EXPECT_EQ(s.threads, 1);
  EXPECT_EQ(s.reverify_interval, 300);
  EXPECT_EQ(s.best_count, 0);
  EXPECT_DOUBLE_EQ(s.time_less_than, 50);
  ASSERT_FALSE(ApplyVerifySettingsFields({"+200", "0", "50", " 0.5 ", " 250 "}, &s).has_value());
  EXPECT_EQ(s.threads, 200);
  EXPECT_DOUBLE_EQ(s.time_less_than, 0.5);
  EXPECT_EQ(s.connects_in_flight, 250);
}

TEST(VerifySettingsTest, FieldsRefused) {
  struct Case {
    VerifySettingsFields fields;
    VerifyField field;
    const char* message;
  } cases[] = {
      {{"0", "60", "8", "4.5"}, VerifyField::kThreads, "“请填入一个在1和200之间的整数。”"},
      {{"201", "60", "8", "4.5"}, VerifyField::kThreads, "“请填入一个在1和200之间的整数。”"},
      {{"", "60", "8", "4.5"}, VerifyField::kThreads, "请键入一个整数。"},
      {{"3.5", "60", "8", "4.5"}, VerifyField::kThreads, "请键入一个整数。"},
      {{"30x", "60", "8", "4.5"}, VerifyField::kThreads, "请键入一个整数。"},
      {{"99999999999", "60", "8", "4.5"}, VerifyField::kThreads, "请键入一个整数。"},
      {{"30", "301", "8", "4.5"},
       VerifyField::kReverifyInterval,
       "“请填入一个在0和300之间的整数。”"},
      {{"30", "-1", "8", "4.5"},
       VerifyField::kReverifyInterval,
       "“请填入一个在0和300之间的整数。”"},
      {{"30", "60", "51", "4.5"}, VerifyField::kBestCount, "“请填入一个在0和50之间的整数。”"},
      {{"30", "60", "8", "abc"}, VerifyField::kTimeLessThan, "请键入一个数。"},
      {{"30", "60", "8", "4.5 seconds"}, VerifyField::kTimeLessThan, "请键入一个数。"},
      {{"30", "60", "8", "."}, VerifyField::kTimeLessThan, "请键入一个数。"},
      {{"30", "60", "8", "50.01"}, VerifyField::kTimeLessThan, "“请填入一个在0和50之间的数字。”"},
      {{"30", "60", "8", "-0.1"}, VerifyField::kTimeLessThan, "“请填入一个在0和50之间的数字。”"},
      {{"0", "999", "8", "x"}, VerifyField::kThreads, "“请填入一个在1和200之间的整数。”"},
      {{"30", "60", "8", "4.5", "0"},
       VerifyField::kConnectsInFlight,
       "“请填入一个在1和10000之间的整数。”"},
      {{"30", "60", "8", "4.5", "10001"},
       VerifyField::kConnectsInFlight,
       "“请填入一个在1和10000之间的整数。”"},
      {{"30", "60", "8", "4.5", ""}, VerifyField::kConnectsInFlight, "请键入一个整数。"},
      // In dialog order: the connects edit sits beside the threads edit.
      {{"30", "999", "8", "4.5", "x"}, VerifyField::kConnectsInFlight, "请键入一个整数。"},
  };
  for (const Case& c : cases) {
    VerifySettings s;
    std::optional<FieldError> e = ApplyVerifySettingsFields(c.fields, &s);
    std::string input = c.fields.threads + "|" + c.fields.reverify_interval + "|" +
                        c.fields.best_count + "|" + c.fields.time_less_than;
    ASSERT_TRUE(e.has_value()) << input;
    EXPECT_EQ(e->field, c.field) << input;
    EXPECT_EQ(e->message, c.message) << input;
    EXPECT_EQ(s.threads, 30) << input;  // nothing stored
    EXPECT_EQ(s.reverify_interval, 60) << input;
    EXPECT_EQ(s.connects_in_flight, 1000) << input;
  }
}

TEST(VerifySettingsTest, SaveReportsStoreFailures) {
  MemoryProfileStore store;
  store.set_read_only(true);
  EXPECT_FALSE(SaveVerifySettings(VerifySettings{}, store));
  VerifySettings s = LoadVerifySettings(store);  // defaults, seeding cannot be saved
  EXPECT_EQ(s.sites.size(), 1u);
}

}  // namespace
}  // namespace core
