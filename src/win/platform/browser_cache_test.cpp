// The browser cache cleanup for real under Wine: a prepared cache tree in a
// temporary folder (never the prefix's own folders) emptied through the cache
// folder seam, and the URL cache index with entries the test commits itself.
#include "win/platform/browser_cache.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <map>
#include <string>

#include "win/platform/unique_handle.h"
#include "win/platform/wide_text.h"

namespace win {
namespace {

// A temporary folder with a cache folder, a cookies folder and a folder of
// the user's own files beside them; removed with the test.
class CacheTree {
 public:
  CacheTree() {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    root_ = WideToUtf8(temp) + "relaymoth-cache-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(GetTickCount());
    CreateDirectoryW(Utf8ToWide(root_).c_str(), nullptr);
  }
  ~CacheTree() {
    Win32FolderFileSystem fs;
    core::EmptyFolder(fs, root_, root_);
    // desktop.ini files survive the emptying on purpose; take them too.
    for (const char* rel : {"cache\\sub\\DESKTOP.ini", "cache\\Desktop.INI", "cache\\sub",
                            "cookies\\desktop.ini", "cache", "cookies"}) {
      std::wstring p = Utf8ToWide(Path(rel));
      SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (!DeleteFileW(p.c_str())) RemoveDirectoryW(p.c_str());
    }
    RemoveDirectoryW(Utf8ToWide(root_).c_str());
  }

  std::string Path(const std::string& rel) const { return root_ + "\\" + rel; }
  void Folder(const std::string& rel) const {
    ASSERT_TRUE(CreateDirectoryW(Utf8ToWide(Path(rel)).c_str(), nullptr)) << rel;
  }
  void File(const std::string& rel, DWORD attributes = FILE_ATTRIBUTE_NORMAL) const {
    UniqueFileHandle h(CreateFileW(Utf8ToWide(Path(rel)).c_str(), GENERIC_WRITE, 0, nullptr,
                                   CREATE_NEW, attributes, nullptr));
    ASSERT_TRUE(h.valid()) << rel;
    DWORD written = 0;
    WriteFile(h.get(), "cached", 6, &written, nullptr);
  }
  bool Exists(const std::string& rel) const {
    return GetFileAttributesW(Utf8ToWide(Path(rel)).c_str()) != INVALID_FILE_ATTRIBUTES;
  }

 private:
  std::string root_;
};

class TreeFolders final : public CacheFolderSource {
 public:
  explicit TreeFolders(const CacheTree& tree) : tree_(tree) {}
  std::optional<std::string> Folder(CacheFolder which) override {
    return tree_.Path(which == CacheFolder::kInternetCache ? "cache" : "cookies");
  }

 private:
  const CacheTree& tree_;
};

TEST(BrowserCacheTest, EmptiesTheNamedFoldersAndNothingElse) {
  CacheTree tree;
  for (const char* folder : {"cache", "cache\\sub", "cache\\sub\\deeper", "cache\\empty", "cookies",
                             "user", "user\\docs"}) {
    tree.Folder(folder);
  }
  tree.File("cache\\page.htm");
  tree.File("cache\\locked.gif", FILE_ATTRIBUTE_READONLY);
  tree.File("cache\\Desktop.INI");
  tree.File("cache\\sub\\script.js");
  tree.File("cache\\sub\\DESKTOP.ini");
  tree.File("cache\\sub\\deeper\\style.css", FILE_ATTRIBUTE_READONLY);
  tree.File("cookies\\user@127.0.0.1.txt");
  tree.File("cookies\\desktop.ini");
  tree.File("user\\keep.txt");
  tree.File("user\\docs\\letter.txt");

  // Links inside the cache pointing at the user's files, where the platform
  // makes them (Wine 8 answers TRUE and makes none; the core's own tests cover
  // links on a real tree).
  CreateSymbolicLinkW(Utf8ToWide(tree.Path("cache\\linked")).c_str(),
                      Utf8ToWide(tree.Path("user")).c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY);
  CreateSymbolicLinkW(Utf8ToWide(tree.Path("cache\\sub\\keep.lnk")).c_str(),
                      Utf8ToWide(tree.Path("user\\keep.txt")).c_str(), 0);
  for (const char* link : {"cache\\linked", "cache\\sub\\keep.lnk"}) {
    DWORD attributes = GetFileAttributesW(Utf8ToWide(tree.Path(link)).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      std::printf("note: no symbolic link %s here; links not covered\n", link);
    } else {
      EXPECT_TRUE(attributes & FILE_ATTRIBUTE_REPARSE_POINT) << link << " is no link";
    }
  }

  TreeFolders folders(tree);
  ClearBrowserCache(folders);

  const std::map<std::string, bool> after_cache = {
      {"cache\\page.htm", false},
      {"cache\\locked.gif", false},
      {"cache\\Desktop.INI", true},
      {"cache\\sub", true},
      {"cache\\sub\\script.js", false},
      {"cache\\sub\\DESKTOP.ini", true},
      {"cache\\sub\\deeper", false},
      {"cache\\empty", false},
      {"cache\\linked", false},
      {"cache\\sub\\keep.lnk", false},
      {"cookies\\user@127.0.0.1.txt", true},
      {"user\\keep.txt", true},
      {"user\\docs\\letter.txt", true},
  };
  for (const auto& [rel, exists] : after_cache) {
    EXPECT_EQ(tree.Exists(rel), exists) << rel;
  }

  ClearCookies(folders);
  EXPECT_FALSE(tree.Exists("cookies\\user@127.0.0.1.txt"));
  EXPECT_TRUE(tree.Exists("cookies\\desktop.ini"));
  EXPECT_TRUE(tree.Exists("user\\docs\\letter.txt"));
}

TEST(BrowserCacheTest, MissingFoldersAreNoError) {
  class Nowhere final : public CacheFolderSource {
   public:
    std::optional<std::string> Folder(CacheFolder which) override {
      if (which == CacheFolder::kCookies) return std::nullopt;
      return std::string("C:\\relaymoth-no-such-cache-folder");
    }
  } nowhere;
  ClearBrowserCache(nowhere);
  ClearCookies(nowhere);
  Win32FolderFileSystem fs;
  std::vector<core::FolderEntry> entries;
  EXPECT_FALSE(fs.ListFolder("C:\\relaymoth-no-such-cache-folder", &entries));
}

bool InUrlCache(const std::wstring& url) {
  DWORD size = 0;
  if (GetUrlCacheEntryInfoW(url.c_str(), nullptr, &size)) return true;
  return GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}

void CommitEntry(const std::wstring& url, DWORD type) {
  wchar_t file[MAX_PATH] = {};
  ASSERT_TRUE(CreateUrlCacheEntryW(url.c_str(), 0, L"txt", file, 0)) << GetLastError();
  {
    UniqueFileHandle h(CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(h.valid());
    DWORD written = 0;
    WriteFile(h.get(), "entry", 5, &written, nullptr);
  }
  FILETIME none{};
  ASSERT_TRUE(
      CommitUrlCacheEntryW(url.c_str(), file, none, none, type, nullptr, 0, nullptr, nullptr))
      << GetLastError();
  ASSERT_TRUE(InUrlCache(url));
}

TEST(BrowserCacheTest, UrlCacheModesSplitCookiesFromPages) {
  const std::wstring page = L"http://127.0.0.1/relaymoth-cache-test/page.htm";
  const std::wstring cookie = L"Cookie:relaymoth@127.0.0.1/relaymoth-cache-test/";
  CommitEntry(page, NORMAL_CACHE_ENTRY);
  CommitEntry(cookie, COOKIE_CACHE_ENTRY);

  EXPECT_TRUE(ClearUrlCache(UrlCacheEntries::kNonCookies));
  EXPECT_FALSE(InUrlCache(page));
  EXPECT_TRUE(InUrlCache(cookie));

  CommitEntry(page, NORMAL_CACHE_ENTRY);
  EXPECT_TRUE(ClearUrlCache(UrlCacheEntries::kCookies));
  EXPECT_TRUE(InUrlCache(page));
  EXPECT_FALSE(InUrlCache(cookie));
  DeleteUrlCacheEntryW(page.c_str());
}

}  // namespace
}  // namespace win
