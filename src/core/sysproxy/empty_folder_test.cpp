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
class NativeFolderFileSystem final : public FolderFileSystem {
 public:
  std::set<std::string> in_use;

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
      e.is_reparse_point = fs::is_symlink(own);
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
    return fs::is_regular_file(fs::symlink_status(PathFromUtf8(path), ec)) &&
           fs::remove(PathFromUtf8(path), ec);
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
