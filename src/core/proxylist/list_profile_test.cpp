#include "core/proxylist/list_profile.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace core {
namespace {

TEST(ListProfileTest, SavesFavoritesAndOthersInListOrder) {
  ProxyList list;
  const struct {
    const char* line;
    bool favorite;
  } rows[] = {{"1.1.1.1:80", true},  {"2.2.2.2:81", false}, {"3.3.3.3:82@SOCKS5", true},
              {"4.4.4.4:83", false}, {"5.5.5.5:84$x", true}};
  for (const auto& r : rows) ASSERT_EQ(list.AddProxy(r.line, r.favorite), AddResult::kAdded);

  MemoryProfileStore store;
  // Leftovers of an earlier, longer save.
  for (int i = 0; i < 1000; i += 7) {
    store.WriteText(kProxyListSection, FavoriteValueName(i), "9.9.9.9:" + std::to_string(i + 1));
    store.WriteText(kProxyListSection, UnfavoriteValueName(i), "8.8.8.8:1");
  }
  SaveListSection(list, store);

  EXPECT_EQ(store.ReadInt(kProxyListSection, "FavoriteProxy", -1), 3);
  EXPECT_EQ(store.ReadInt(kProxyListSection, "UnfavoriteProxy", -1), 2);
  EXPECT_EQ(store.ReadText(kProxyListSection, "FavoriteProxy_000", ""), "1.1.1.1:80");
  EXPECT_EQ(store.ReadText(kProxyListSection, "FavoriteProxy_001", ""), "3.3.3.3:82@SOCKS5");
  EXPECT_EQ(store.ReadText(kProxyListSection, "FavoriteProxy_002", ""), "5.5.5.5:84$x");
  EXPECT_EQ(store.ReadText(kProxyListSection, "UnfavoriteProxy_000", ""), "2.2.2.2:81");
  EXPECT_EQ(store.ReadText(kProxyListSection, "UnfavoriteProxy_001", ""), "4.4.4.4:83");
  EXPECT_FALSE(store.Has(kProxyListSection, "FavoriteProxy_007"));
  EXPECT_FALSE(store.Has(kProxyListSection, "UnfavoriteProxy_994"));
  EXPECT_EQ(store.values().size(), 7u);
}

TEST(ListProfileTest, IndicesGrowToFourDigits) {
  EXPECT_EQ(FavoriteValueName(0), "FavoriteProxy_000");
  EXPECT_EQ(FavoriteValueName(999), "FavoriteProxy_999");
  EXPECT_EQ(UnfavoriteValueName(1000), "UnfavoriteProxy_1000");
}

TEST(ListProfileTest, RoundTripKeepsTypeRemarkAndTickAndSelectsNothing) {
  ProxyList list;
  list.AddProxy("1.1.1.1:80@SOCKS5$美国", false);
  list.SetReserved(0, true);
  list.AddProxy("2.2.2.2:8080@HTTP", false);
  MemoryProfileStore store;
  EXPECT_TRUE(SaveListSection(list, store));

  ProxyList loaded;
  loaded.AddProxy("2.2.2.2:8080@HTTP", true);  // the system proxy read back at start
  LoadSavedList(loaded, store);
  ASSERT_EQ(loaded.size(), 2u);  // its saved twin is the same row
  EXPECT_EQ(loaded.RowFullLine(1), "1.1.1.1:80@SOCKS5$<保留ip>美国");
  EXPECT_TRUE(loaded.row(1).favorite);
  EXPECT_TRUE(loaded.IsReserved(1));
  EXPECT_EQ(loaded.selected_count(), 0u);
  EXPECT_EQ(loaded.favorite_count(), 2);

  // Values saved as host:port alone (by earlier versions) load as before.
  MemoryProfileStore old;
  old.WriteInt(kProxyListSection, "UnfavoriteProxy", 1);
  old.WriteText(kProxyListSection, "UnfavoriteProxy_000", "3.3.3.3:3128");
  ProxyList from_old;
  LoadSavedList(from_old, old);
  EXPECT_EQ(from_old.RowFullLine(0), "3.3.3.3:3128");
}

TEST(ListProfileTest, ASaveBrokenOffAnywhereLeavesALoadableList) {
  ProxyList before;
  for (const char* line : {"1.1.1.1:80", "2.2.2.2:80", "3.3.3.3:80"}) before.AddProxy(line, true);
  before.AddProxy("4.4.4.4:80", false);
  ProxyList after;
  for (const char* line : {"5.5.5.5:80", "6.6.6.6:80"}) after.AddProxy(line, true);
  after.AddProxy("7.7.7.7:80", false);

  // Killed after n writes of the second save, for every n up to its end.
  for (int n = 0; n <= 12; ++n) {
    MemoryProfileStore store;
    ASSERT_TRUE(SaveListSection(before, store));
    store.set_changes_left(n);
    SaveListSection(after, store);
    store.set_changes_left(-1);
    ProxyList loaded;
    LoadSavedList(loaded, store);
    std::set<std::string> rows;
    for (size_t i = 0; i < loaded.size(); ++i) rows.insert(loaded.RowHostPort(int64_t(i)));
    // Every row is one of the two lists', nothing is lost from both, and once
    // the counts are written the new list is what loads.
    EXPECT_GE(loaded.size(), 3u) << "after " << n << " writes";
    for (const std::string& r : rows) {
      EXPECT_TRUE(r[0] >= '1' && r[0] <= '7') << r;
    }
    if (n >= 5) {
      EXPECT_EQ(rows, (std::set<std::string>{"5.5.5.5:80", "6.6.6.6:80", "7.7.7.7:80"}))
          << "after " << n << " writes";
    }
  }
}

TEST(ListProfileTest, LoadSkipsBadValuesSilently) {
  MemoryProfileStore store;
  store.WriteInt(kProxyListSection, "FavoriteProxy", 5);  // more than stored
  store.WriteText(kProxyListSection, "FavoriteProxy_000", "1.2.3.4:80");
  store.WriteText(kProxyListSection, "FavoriteProxy_001", "not a proxy");
  store.WriteInt(kProxyListSection, "FavoriteProxy_002", 42);  // wrong kind
  store.WriteText(kProxyListSection, "FavoriteProxy_003", "1.2.3.4:80");  // duplicate
  store.WriteInt(kProxyListSection, "UnfavoriteProxy", 1);
  store.WriteText(kProxyListSection, "UnfavoriteProxy_000", "5.6.7.8:3128");

  ProxyList list;
  list.AddProxy("1.2.3.4:80", true);  // the system proxy read back before the saved list
  LoadSavedList(list, store);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list.RowHostPort(1), "5.6.7.8:3128");
}

TEST(ListProfileTest, HugeCountDoesNotKeepTheLoadBusy) {
  MemoryProfileStore store;
  store.WriteInt(kProxyListSection, "FavoriteProxy", INT32_MAX);
  store.WriteText(kProxyListSection, "FavoriteProxy_000", "1.2.3.4:80");
  store.WriteText(kProxyListSection, "FavoriteProxy_900", "1.2.3.5:80");  // gap below 1000
  ProxyList list;
  LoadSavedList(list, store);  // returns: the run of missing values ends it
  EXPECT_EQ(list.size(), 2u);
}

TEST(ListProfileTest, ReadOnlyProfileLosesNothingInMemory) {
  ProxyList list;
  list.AddProxy("1.2.3.4:80", true);
  MemoryProfileStore store;
  store.WriteText(kProxyListSection, "FavoriteProxy_000", "9.9.9.9:1");
  store.set_read_only(true);
  SaveListSection(list, store);  // every write fails; nothing throws
  EXPECT_EQ(store.ReadText(kProxyListSection, "FavoriteProxy_000", ""), "9.9.9.9:1");
  EXPECT_EQ(list.size(), 1u);
}

TEST(ListProfileTest, WindowPositionDefaultsAndRoundTrip) {
  MemoryProfileStore store;
  WindowPosition def = LoadWindowPosition(store);
  EXPECT_EQ(def.left, 730);
  EXPECT_EQ(def.top, 38);
  SaveWindowPosition({-5, 1200}, store);
  WindowPosition p = LoadWindowPosition(store);
  EXPECT_EQ(p.left, -5);
  EXPECT_EQ(p.top, 1200);
  store.WriteText(kWindowPositionSection, "WindowPosLeft", "100");  // wrong kind reads as default
  EXPECT_EQ(LoadWindowPosition(store).left, 730);
}

}  // namespace
}  // namespace core
