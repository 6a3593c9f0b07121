// The browser cache cleanup for real under Wine: a prepared cache tree in a
// temporary folder (never the prefix's own folders) emptied through the cache
// folder seam, and the URL cache index with entries the test commits itself.
#include "win/platform/browser_cache.h"

#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "win/platform/unique_handle.h"
#include "win/platform/wide_text.h"

namespace win {
namespace {

// A temporary folder laid out like a profile: application data folders with
// the cache and cookies folders where the browser keeps them, and a folder of
// the user's own files beside them; removed with the test. In the paths the
// tests name, "cache" and "cookies" stand for those two folders.
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
    for (const char* rel :
         {"cache\\sub\\DESKTOP.ini", "cache\\Desktop.INI", "cookies\\desktop.ini"}) {
      std::wstring p = Utf8ToWide(Path(rel));
      SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(p.c_str());
    }
    core::EmptyFolder(fs, root_, root_);
    RemoveDirectoryW(Utf8ToWide(root_).c_str());
  }

  std::string AppData(const char* which) const { return root_ + "\\AppData\\" + which; }
  std::string Path(const std::string& rel) const {
    for (auto [name, place] : {std::pair{"cache", "Local\\Microsoft\\Windows\\INetCache"},
                               std::pair{"cookies", "Roaming\\Microsoft\\Windows\\Cookies"}}) {
      std::string_view first(rel.c_str(), std::min(rel.find('\\'), rel.size()));
      if (first == name) return root_ + "\\AppData\\" + place + rel.substr(first.size());
    }
    return root_ + "\\" + rel;
  }
  void Folder(const std::string& rel) const {
    ASSERT_EQ(SHCreateDirectoryExW(nullptr, Utf8ToWide(Path(rel)).c_str(), nullptr), ERROR_SUCCESS)
        << rel;
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
  core::AppDataFolders AppData() override {
    return {tree_.AppData("Local"), tree_.AppData("Roaming")};
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

// Unix symbolic links made and removed by the test itself under Wine on Linux,
// with the Linux system calls: the program's code runs inside the Linux process
// there, Wine has no call that makes such a link, and a Unix program started
// through Wine runs detached (its process handle cannot be waited for). Paths
// are Windows paths; the links made are removed when this goes.
class UnixLinks {
 public:
  UnixLinks() {
    using UnixFileName = char*(CDECL*)(LPCWSTR);
    using HostVersion = void(CDECL*)(const char**, const char**);
    unix_name_ = reinterpret_cast<UnixFileName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    auto host = reinterpret_cast<HostVersion>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_host_version")));
    const char* system = nullptr;
    const char* release = nullptr;
    if (host != nullptr) host(&system, &release);
    linux_ = unix_name_ != nullptr && system != nullptr && std::string(system) == "Linux";
  }
  ~UnixLinks() {
    for (const std::string& link : made_) LinuxCall(kUnlink, link.c_str(), nullptr);
  }
  UnixLinks(const UnixLinks&) = delete;
  UnixLinks& operator=(const UnixLinks&) = delete;

  bool available() const { return linux_; }
  bool Make(const std::string& target, const std::string& link) {
    std::string unix_target = UnixName(target);
    std::string unix_link = UnixName(link);
    if (unix_target.empty() || unix_link.empty()) return false;
    if (LinuxCall(kSymlink, unix_target.c_str(), unix_link.c_str()) != 0) return false;
    made_.push_back(unix_link);
    return true;
  }

 private:
  static constexpr long kUnlink = 87;  // x86-64 Linux system call numbers
  static constexpr long kSymlink = 88;

  static long LinuxCall(long number, const char* first, const char* second) {
#if defined(__x86_64__)
    long result;
    asm volatile("syscall"
                 : "=a"(result)
                 : "a"(number), "D"(first), "S"(second)
                 : "rcx", "r11", "memory");
    return result;
#else
    return -1;
#endif
  }
  std::string UnixName(const std::string& path) const {
    if (!linux_) return {};
    char* name = unix_name_(Utf8ToWide(path).c_str());
    if (name == nullptr) return {};
    std::string out = name;
    HeapFree(GetProcessHeap(), 0, name);
    return out;
  }

  char*(CDECL* unix_name_)(LPCWSTR) = nullptr;
  bool linux_ = false;
  std::vector<std::string> made_;
};

// Wine lists a Unix link to a file as a plain file, and deleting the "file"
// deletes what the link points to: the cleanup must leave such a link alone.
TEST(BrowserCacheTest, UnixLinksNeverCostTheFilesTheyPointTo) {
  CacheTree tree;
  // Declared after the tree: the links go first (deleting one through Wine
  // would delete its target).
  UnixLinks links;
  if (!links.available()) GTEST_SKIP() << "Unix links are made only under Wine on Linux";
  for (const char* folder : {"cache\\sub", "cookies", "user\\docs"}) tree.Folder(folder);
  tree.File("cache\\page.htm");
  tree.File("cache\\sub\\script.js");
  tree.File("cookies\\user@127.0.0.1.txt");
  tree.File("user\\keep.txt");
  tree.File("user\\docs\\letter.txt");
  for (auto [target, link] : {std::pair{"user\\keep.txt", "cache\\keep.htm"},
                              std::pair{"user\\keep.txt", "cookies\\keep.txt"},
                              std::pair{"user\\docs", "cache\\sub\\docs"}}) {
    ASSERT_TRUE(links.Make(tree.Path(target), tree.Path(link))) << link;
  }
  // As Wine lists it: a plain file.
  EXPECT_FALSE(GetFileAttributesW(Utf8ToWide(tree.Path("cache\\keep.htm")).c_str()) &
               FILE_ATTRIBUTE_REPARSE_POINT);

  TreeFolders folders(tree);
  ClearBrowserCache(folders);
  ClearCookies(folders);
  EXPECT_TRUE(tree.Exists("user\\keep.txt"));
  EXPECT_TRUE(tree.Exists("user\\docs\\letter.txt"));
  // The cache's own files still go.
  EXPECT_FALSE(tree.Exists("cache\\sub\\script.js"));
  EXPECT_FALSE(tree.Exists("cookies\\user@127.0.0.1.txt"));
}

TEST(BrowserCacheTest, MissingFoldersAreNoError) {
  class Nowhere final : public CacheFolderSource {
   public:
    std::optional<std::string> Folder(CacheFolder which) override {
      if (which == CacheFolder::kCookies) return std::nullopt;
      return std::string("C:\\relaymoth-no-such-cache-folder");
    }
    core::AppDataFolders AppData() override { return {"C:\\", "C:\\"}; }
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
