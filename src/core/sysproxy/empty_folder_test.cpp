#include "core/sysproxy/empty_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "core/base/file_path.h"

namespace core {
namespace {

namespace fs = std::filesystem;

// The seam over the real file system, behaving as the Windows calls do where
// it matters: a read-only file or folder refuses deletion until its mark is
// cleared, a listed link reports the directory flag of what it points to, and
// paths named in `in_use` refuse deletion like files another program holds open.
// With `links_look_plain` it behaves as Wine does with a Unix link: the listing
// shows the link as what it points to, and deleting the link deletes its target.
class NativeFolderFileSystem final : public FolderFileSystem {
 public:
  std::set<std::string> in_use;
  bool links_look_plain = false;

  bool ListFolder(const std::string& folder, std::vector<FolderEntry>* entries) override {
    entries->clear();
    std::error_code ec;
    fs::directory_iterator it(PathFromUtf8(folder), ec);
    if (ec) return false;
    for (const fs::directory_entry& d : it) {
      FolderEntry e;
      e.name = PathToUtf8(d.path().filename());
      e.path = PathToUtf8(d.path());
      fs::file_status own = fs::symlink_status(d.path(), ec);
      e.is_reparse_point = fs::is_symlink(own) && !links_look_plain;
      e.is_directory =
          e.is_reparse_point ? fs::is_directory(fs::status(d.path(), ec)) : fs::is_directory(own);
      e.read_only = !e.is_reparse_point && ReadOnly(d.path());
      entries->push_back(std::move(e));
    }
    return true;
  }
  bool ClearReadOnly(const std::string& path) override {
    std::error_code ec;
    fs::permissions(PathFromUtf8(path), fs::perms::owner_write, fs::perm_options::add, ec);
    return !ec;
  }
  bool RemoveFile(const std::string& path) override {
    if (in_use.count(path) != 0 || ReadOnly(PathFromUtf8(path))) return false;
    std::error_code ec;
    fs::path p = PathFromUtf8(path);
    if (links_look_plain && fs::is_symlink(fs::symlink_status(p, ec))) p = fs::canonical(p, ec);
    return fs::is_regular_file(fs::symlink_status(p, ec)) && fs::remove(p, ec);
  }
  bool RemoveEmptyFolder(const std::string& path) override {
    std::error_code ec;
    fs::path p = PathFromUtf8(path);
    if (ReadOnly(p) || !fs::is_directory(fs::symlink_status(p, ec))) return false;
    return fs::remove(p, ec);  // refuses a folder that is not empty
  }
  bool RemoveLink(const std::string& path) override {
    std::error_code ec;
    fs::path p = PathFromUtf8(path);
    return fs::is_symlink(fs::symlink_status(p, ec)) && fs::remove(p, ec);
  }
  std::optional<std::string> FinalPath(const std::string& path) override {
    std::error_code ec;
    fs::path p = fs::canonical(PathFromUtf8(path), ec);
    if (ec) return std::nullopt;
    return PathToUtf8(p);
  }

 private:
  static bool ReadOnly(const fs::path& p) {
    std::error_code ec;
    return (fs::symlink_status(p, ec).permissions() & fs::perms::owner_write) == fs::perms::none;
  }
};

// A temporary folder, removed with everything in it at the end.
class TempTree {
 public:
  TempTree() {
    root_ = fs::temp_directory_path() /
            (std::string("empty_folder_test_") +
             ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
             std::to_string(std::random_device{}()));
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  ~TempTree() {
    std::error_code ec;
    for (const fs::directory_entry& d : fs::recursive_directory_iterator(root_, ec)) {
      fs::permissions(d.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(root_, ec);
  }
  const fs::path& root() const { return root_; }

  fs::path File(const fs::path& rel) {
    fs::path p = root_ / rel;
    fs::create_directories(p.parent_path());
    std::ofstream(p) << "x";
    return p;
  }
  fs::path Folder(const fs::path& rel) {
    fs::create_directories(root_ / rel);
    return root_ / rel;
  }
  // Every path below `rel`, relative to it with "/" between steps, links not followed.
  std::set<std::string> Listing(const fs::path& rel) const {
    std::set<std::string> out;
    for (const fs::directory_entry& d : fs::recursive_directory_iterator(root_ / rel)) {
      std::string s = PathToUtf8(fs::relative(d.path(), root_ / rel));
      for (char& c : s) c = c == '\\' ? '/' : c;
      out.insert(s);
    }
    return out;
  }

 private:
  fs::path root_;
};

void MakeReadOnly(const fs::path& p) {
  fs::permissions(p, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
}

TEST(EmptyFolderTest, WalksARealTree) {
  TempTree t;
  t.File("cache/a.htm");
  t.File("cache/Desktop.ini");
  MakeReadOnly(t.File("cache/readonly.gif"));
  t.File("cache/sub/b.js");
  t.File("cache/sub/DESKTOP.INI");
  t.File("cache/sub/deeper/deepest/c.css");
  t.File("cache/gone/d.png");
  t.File("cache/gone/.hidden");
  t.File(PathFromUtf8("cache/缓存/页面.htm"));
  t.File("cache/rosub/e.txt");
  MakeReadOnly(t.Folder("cache/rosub"));
  t.File("cache/busy.dat");
  t.File("cache/busydir/held.dat");
  t.File("cache/busydir/free.dat");
  fs::path cache = t.root() / "cache";

  NativeFolderFileSystem nfs;
  nfs.in_use = {PathToUtf8(cache / "busy.dat"), PathToUtf8(cache / "busydir" / "held.dat")};
  ASSERT_TRUE(EmptyFolder(nfs, PathToUtf8(cache), PathToUtf8(cache)));
  // desktop.ini stays in any case and keeps its folder; held files keep theirs.
  EXPECT_EQ(t.Listing("cache"),
            (std::set<std::string>{"Desktop.ini", "busy.dat", "busydir", "busydir/held.dat", "sub",
                                   "sub/DESKTOP.INI"}));
}

TEST(EmptyFolderTest, LinksAreRemovedNeverFollowed) {
#if defined(_WIN32)
  GTEST_SKIP() << "the standard library does not report Windows links as links";
#endif
  TempTree t;
  t.File("user/letter.doc");
  t.File("user/photos/p.jpg");
  MakeReadOnly(t.File("user/readonly.doc"));
  t.File("cache/a.htm");
  t.File("cache/sub/b.htm");
  fs::path cache = t.root() / "cache";
  std::error_code ec;
  fs::create_directory_symlink(t.root() / "user", cache / "link", ec);
  ASSERT_FALSE(ec) << ec.message();
  fs::create_directory_symlink(t.root() / "user" / "photos", cache / "sub" / "photos", ec);
  ASSERT_FALSE(ec) << ec.message();
  fs::create_symlink(t.root() / "user" / "letter.doc", cache / "letter.lnk", ec);
  ASSERT_FALSE(ec) << ec.message();
  fs::create_symlink(t.root() / "nowhere", cache / "dangling", ec);
  ASSERT_FALSE(ec) << ec.message();

  NativeFolderFileSystem nfs;
  ASSERT_TRUE(EmptyFolder(nfs, PathToUtf8(cache), PathToUtf8(cache)));
  EXPECT_TRUE(t.Listing("cache").empty());
  EXPECT_EQ(t.Listing("user"),
            (std::set<std::string>{"letter.doc", "photos", "photos/p.jpg", "readonly.doc"}));
}

// Links that the platform lists as the file or folder they point to (Unix links
// under Wine): what lies outside the folder survives, what lies inside goes.
TEST(EmptyFolderTest, LinksListedAsPlainEntriesNeverReachOutside) {
#if defined(_WIN32)
  GTEST_SKIP() << "the standard library makes no links here (the Wine test covers them)";
#endif
  TempTree t;
  t.File("user/letter.doc");
  t.File("user/photos/p.jpg");
  t.File("cache/a.htm");
  t.File("cache/sub/b.htm");
  fs::path cache = t.root() / "cache";
  std::error_code ec;
  fs::create_symlink(t.root() / "user" / "letter.doc", cache / "letter.lnk", ec);
  ASSERT_FALSE(ec) << ec.message();
  fs::create_directory_symlink(t.root() / "user" / "photos", cache / "sub" / "photos", ec);
  ASSERT_FALSE(ec) << ec.message();
  fs::create_symlink(t.root() / "nowhere", cache / "dangling", ec);
  ASSERT_FALSE(ec) << ec.message();

  NativeFolderFileSystem nfs;
  nfs.links_look_plain = true;
  ASSERT_TRUE(EmptyFolder(nfs, PathToUtf8(cache), PathToUtf8(cache)));
  EXPECT_EQ(t.Listing("user"), (std::set<std::string>{"letter.doc", "photos", "photos/p.jpg"}));
  // The links themselves stay (deleting one would delete what it points to);
  // the cache's own files go.
  for (const char* link : {"dangling", "letter.lnk", "sub/photos"}) {
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(cache / link))) << link;
  }
  EXPECT_FALSE(fs::exists(cache / "a.htm"));
  EXPECT_FALSE(fs::exists(cache / "sub" / "b.htm"));
}

// The cache folder the cleanup empties may sit in a folder reached through a
// link (the folder's own final path is the measure), and keeps the sub-folders
// of other programs.
TEST(EmptyFolderTest, KnownCacheFolderKeepsOtherProgramsFolders) {
  TempTree t;
  std::string inet = "local/Microsoft/Windows/INetCache/";
  t.File(inet + "a.htm");
  t.File(inet + "Content.IE5/b.htm");
  t.File(inet + "Content.Outlook/ABCD1234/mail.doc");
  t.File(inet + "content.mso/doc.tmp");
  t.File(inet + "Content.IE5/Content.MSO/c.tmp");
  t.File("local/profile.dat");
  t.File("notes.txt");
  // Reached through a link where the standard library can make one.
  fs::path local = t.root() / "linked-local";
  std::error_code ec;
  fs::create_directory_symlink(t.root() / "local", local, ec);
  if (ec) local = t.root() / "local";
  AppDataFolders app_data{PathToUtf8(local), ""};
  NativeFolderFileSystem nfs;

  // A cache value pointing at the profile or the application data folder.
  for (const fs::path& wrong : {t.root(), local}) {
    EXPECT_FALSE(
        EmptyBrowserFolder(nfs, BrowserFolder::kInternetCache, PathToUtf8(wrong), app_data));
  }
  EXPECT_EQ(t.Listing("local").size(), 14u);
  EXPECT_TRUE(fs::exists(t.root() / "notes.txt"));

  fs::path cache = local / "Microsoft/Windows/INetCache";
  ASSERT_TRUE(EmptyBrowserFolder(nfs, BrowserFolder::kInternetCache, PathToUtf8(cache), app_data));
  EXPECT_EQ(t.Listing(inet),
            (std::set<std::string>{"Content.IE5", "Content.IE5/Content.MSO",
                                   "Content.IE5/Content.MSO/c.tmp", "Content.Outlook",
                                   "Content.Outlook/ABCD1234", "Content.Outlook/ABCD1234/mail.doc",
                                   "content.mso", "content.mso/doc.tmp"}));
  EXPECT_TRUE(fs::exists(t.root() / "local/profile.dat"));
}

TEST(EmptyFolderTest, KnownBrowserFolders) {
  struct Case {
    BrowserFolder which;
    const char* folder;
    bool known;
  };
  constexpr BrowserFolder kCache = BrowserFolder::kInternetCache;
  constexpr BrowserFolder kCookies = BrowserFolder::kCookies;
  const Case cases[] = {
      {kCache, R"(C:\Users\a\AppData\Local\Microsoft\Windows\INetCache)", true},
      {kCache, R"(c:\users\A\appdata\local\microsoft\windows\inetcache\)", true},
      {kCache, R"(C:\Users\a\AppData\Local\Microsoft\Windows\Temporary Internet Files)", true},
      {kCache, R"(C:\Users\a\AppData\Local\Microsoft\Windows\INetCache\IE)", true},
      {kCache, R"(\\?\C:\Users\a\AppData\Local\Microsoft\Windows\INetCache)", true},
      {kCookies, R"(C:\Users\a\AppData\Local\Microsoft\Windows\INetCookies)", true},
      {kCookies, R"(C:\Users\a\AppData\Roaming\Microsoft\Windows\Cookies)", true},
      {kCookies, R"(C:\Users\a\AppData\Roaming\Microsoft\Windows\Cookies\Low)", true},
      // The profile, the folders above the known places, other folders.
      {kCache, R"(C:\Users\a)", false},
      {kCookies, R"(C:\Users\a)", false},
      {kCache, R"(C:\Users\a\AppData\Local)", false},
      {kCache, R"(C:\Users\a\AppData\Local\Microsoft\Windows)", false},
      {kCache, R"(C:\Users\a\Documents)", false},
      {kCache, R"(C:\Users\a\AppData\Local\Microsoft\Windows\INetCacheX)", false},
      {kCache, R"(C:\Users\a\AppData\Local\Microsoft\Windows\INetCache\..\..)", false},
      {kCache, R"(D:\Users\a\AppData\Local\Microsoft\Windows\INetCache)", false},
      {kCache, R"(Microsoft\Windows\INetCache)", false},
      {kCache, "", false},
      {kCookies, R"(C:\Users\a\Cookies)", false},
      // Each folder only in its own places.
      {kCache, R"(C:\Users\a\AppData\Roaming\Microsoft\Windows\INetCache)", false},
      {kCache, R"(C:\Users\a\AppData\Local\Microsoft\Windows\INetCookies)", false},
      {kCookies, R"(C:\Users\a\AppData\Local\Microsoft\Windows\INetCache)", false},
  };
  const AppDataFolders app_data{R"(C:\Users\a\AppData\Local)", R"(C:\Users\a\AppData\Roaming)"};
  for (const Case& c : cases) {
    EXPECT_EQ(IsKnownBrowserFolder(c.which, c.folder, app_data), c.known) << c.folder;
  }
  // Application data folders that are unknown, relative or a root know nothing.
  for (const AppDataFolders& unknown :
       {AppDataFolders{"", ""}, AppDataFolders{R"(AppData\Local)", R"(AppData\Roaming)"},
        AppDataFolders{R"(C:\)", R"(C:\)"}}) {
    EXPECT_FALSE(IsKnownBrowserFolder(kCache, R"(\Microsoft\Windows\INetCache)", unknown));
    EXPECT_FALSE(IsKnownBrowserFolder(kCache, R"(C:\Microsoft\Windows\INetCache)", unknown))
        << unknown.local;
    EXPECT_FALSE(IsKnownBrowserFolder(kCookies, R"(C:\Microsoft\Windows\Cookies)", unknown));
  }
}

TEST(EmptyFolderTest, RefusedOrMissingFoldersTouchNothing) {
  TempTree t;
  t.File("home/cache/a.htm");
  t.File("home/notes.txt");
  NativeFolderFileSystem nfs;
  std::string home = PathToUtf8(t.root() / "home");
  std::string cache = PathToUtf8(t.root() / "home" / "cache");
  EXPECT_FALSE(EmptyFolder(nfs, home, cache));  // the parent of the named folder
  EXPECT_FALSE(EmptyFolder(nfs, "", cache));
  EXPECT_FALSE(EmptyFolder(nfs, cache, ""));
  EXPECT_FALSE(EmptyFolder(nfs, cache + "/../", cache));
  EXPECT_EQ(t.Listing("home"), (std::set<std::string>{"cache", "cache/a.htm", "notes.txt"}));
  EXPECT_FALSE(EmptyFolder(nfs, cache + "/missing", cache));  // cannot be listed
}

TEST(EmptyFolderTest, SafeFolderGuard) {
  struct Case {
    const char* folder;
    const char* root;
    bool safe;
  };
  const Case cases[] = {
      {R"(C:\Users\a\AppData\Local\Microsoft\Windows\INetCache)",
       R"(C:\Users\a\AppData\Local\Microsoft\Windows\INetCache)", true},
      {R"(c:\users\A\cache\)", R"(C:\Users\a\Cache)", true},
      {R"(C:/Users/a//Cache/./Content.IE5)", R"(C:\Users\a\Cache)", true},
      {R"(\\?\C:\Users\a\Cache)", R"(C:\Users\a\Cache)", true},
      {R"(\\server\share\profiles\a\Cookies)", R"(\\Server\Share\profiles\a\Cookies)", true},
      {R"(\\?\UNC\server\share\a\Cookies)", R"(\\server\share\a\Cookies)", true},
      {"/tmp/home/cache/sub", "/tmp/home/cache", true},
      // Empty, roots and relative paths.
      {"", "", false},
      {R"(C:\)", R"(C:\)", false},
      {"C:", "C:", false},
      {R"(C:\.\)", R"(C:\)", false},
      {R"(C:Cache)", R"(C:Cache)", false},
      {R"(\\server\share\)", R"(\\server\share\)", false},
      {R"(\\server\share)", R"(\\server\share)", false},
      {R"(\\server)", R"(\\server)", false},
      {"/", "/", false},
      {"//", "//", false},
      {"Cache", "Cache", false},
      {R"(1:\Cache)", R"(1:\Cache)", false},
      // Outside the named folder.
      {R"(C:\Users\a)", R"(C:\Users\a\Cache)", false},
      {R"(C:\Users\a\CacheX)", R"(C:\Users\a\Cache)", false},
      {R"(D:\Users\a\Cache)", R"(C:\Users\a\Cache)", false},
      {R"(\\other\share\a\Cookies)", R"(\\server\share\a\Cookies)", false},
      {R"(C:\Users\a\Cache\..\Documents)", R"(C:\Users\a\Cache)", false},
      {R"(C:\Users\a\Cache\.. \Documents)", R"(C:\Users\a\Cache)", false},
      {R"(C:\Users\a\Cache)", R"(C:\Users\a\Cache\..)", false},
      {R"(C:\)", R"(C:\Users\a\Cache)", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsFolderSafeToEmpty(c.folder, c.root), c.safe)
        << "folder [" << c.folder << "] root [" << c.root << "]";
  }
}

}  // namespace
}  // namespace core
