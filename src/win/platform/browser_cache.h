// The browser cache cleanup done before every automatic switch: the WinInet URL
// cache index (entry by entry) and the Temporary Internet Files and Cookies
// folders behind it (emptied with core::EmptyBrowserFolder: only where the
// browser keeps them, never outside). Stateless; any thread (the program runs
// it on the cleanup thread of CleanupRunner). Every platform failure is ignored.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/sysproxy/empty_folder.h"

namespace win {

// Which URL cache entries ClearUrlCache deletes.
enum class UrlCacheEntries {
  kNonCookies,  // every entry whose type lacks the cookie bit
  kCookies,     // every entry whose type has the cookie bit
};

// Deletes the chosen entries of the current user's URL cache (entries in use
// stay). Returns whether the enumeration could start; an empty cache cannot.
bool ClearUrlCache(UrlCacheEntries which);

// The two cache folders the cleanup empties.
using CacheFolder = core::BrowserFolder;

// Where the cache folders are, and the application data folders below which
// the browser keeps them. The program asks the shell; tests point it at a
// temporary tree. Must be safe to call from the cleanup thread.
class CacheFolderSource {
 public:
  virtual ~CacheFolderSource() = default;
  // The folder's absolute path (UTF-8), or nullopt when there is none. The
  // folder is never created by asking.
  virtual std::optional<std::string> Folder(CacheFolder which) = 0;
  // The local and roaming application data folders (empty when unknown).
  virtual core::AppDataFolders AppData() = 0;
};

// The current user's folders as the shell names them (CSIDL_INTERNET_CACHE,
// CSIDL_COOKIES, CSIDL_LOCAL_APPDATA, CSIDL_APPDATA). They come from values the
// user can change, which is why the cleanup checks them against the known places.
class ShellCacheFolders final : public CacheFolderSource {
 public:
  std::optional<std::string> Folder(CacheFolder which) override;
  core::AppDataFolders AppData() override;
};

// core::FolderFileSystem over the Win32 file functions. Paths longer than
// MAX_PATH are used in their "\\?\" form; a reparse point (junction, symbolic
// link) is only ever removed itself, never followed. The final path is the
// system's (GetFinalPathNameByHandleW), which under Wine also sees through Unix
// links that the listing reports as plain files and folders. Any thread.
class Win32FolderFileSystem final : public core::FolderFileSystem {
 public:
  bool ListFolder(const std::string& folder, std::vector<core::FolderEntry>* entries) override;
  bool ClearReadOnly(const std::string& path) override;
  bool RemoveFile(const std::string& path) override;
  bool RemoveEmptyFolder(const std::string& path) override;
  bool RemoveLink(const std::string& path) override;
  std::optional<std::string> FinalPath(const std::string& path) override;
};

// ClearUrlCache(kNonCookies), then the Temporary Internet Files folder emptied
// (when `folders` names one).
void ClearBrowserCache(CacheFolderSource& folders);
// ClearUrlCache(kCookies), then the Cookies folder emptied (when `folders`
// names one).
void ClearCookies(CacheFolderSource& folders);

}  // namespace win
