#include "core/proxylist/list_profile.h"

#include <gtest/gtest.h>

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
  EXPECT_EQ(store.ReadText(kProxyListSection, "FavoriteProxy_001", ""), "3.3.3.3:82");
  EXPECT_EQ(store.ReadText(kProxyListSection, "FavoriteProxy_002", ""), "5.5.5.5:84");
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

TEST(ListProfileTest, RoundTripKeepsOnlyAddressPortAndTick) {
  ProxyList list;
  list.AddProxy("1.1.1.1:80@SOCKS5$美国", false);
  list.SetReserved(0, true);
  list.AddProxy("2.2.2.2:8080@HTTP", false);
  MemoryProfileStore store;
  SaveListSection(list, store);

  ProxyList loaded;
  LoadSavedList(loaded, store);
  ASSERT_EQ(loaded.size(), 2u);
  EXPECT_EQ(loaded.RowFullLine(0), "1.1.1.1:80");  // reserved comes back as a plain favorite
  EXPECT_TRUE(loaded.row(0).favorite);
  EXPECT_FALSE(loaded.IsReserved(0));
  EXPECT_EQ(loaded.RowFullLine(1), "2.2.2.2:8080");
  EXPECT_FALSE(loaded.row(1).favorite);
  EXPECT_TRUE(loaded.row(1).selected);
  EXPECT_EQ(loaded.favorite_count(), 1);
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
