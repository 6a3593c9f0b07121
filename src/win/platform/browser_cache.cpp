#include "win/platform/browser_cache.h"

#include <shlobj.h>
#include <windows.h>
#include <wininet.h>

#include <vector>

#include "win/platform/unique_handle.h"
#include "win/platform/wide_text.h"

namespace win {
namespace {

// A cache entry larger than this is taken for a broken answer and ends the walk
// (a real entry is a header and a few URL-sized texts).
constexpr DWORD kMaxUrlCacheEntryBytes = 1 << 20;
// How often one entry is asked for again when it grew between the size query
// and the fetch.
constexpr int kFetchAttempts = 4;

struct UrlCacheFind {
  HANDLE handle = nullptr;
  ~UrlCacheFind() {
    if (handle != nullptr) FindCloseUrlCache(handle);
  }
};

// Fetches the first (find == nullptr) or next entry into `buffer`, growing it to
// the size the platform asks for. False at the end of the cache or on any
// other failure.
bool FetchEntry(UrlCacheFind* find, std::vector<BYTE>* buffer) {
  for (int attempt = 0; attempt < kFetchAttempts; ++attempt) {
    DWORD size = DWORD(buffer->size());
    auto* entry =
        buffer->empty() ? nullptr : reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(buffer->data());
    bool ok;
    if (find->handle == nullptr) {
      HANDLE h = FindFirstUrlCacheEntryW(nullptr, entry, &size);
      ok = h != nullptr;
      if (ok) find->handle = h;
    } else {
      ok = FindNextUrlCacheEntryW(find->handle, entry, &size) != FALSE;
    }
    if (ok) return true;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= buffer->size() ||
        size > kMaxUrlCacheEntryBytes) {
      return false;
    }
    // DWORD-aligned storage for the entry structure.
    buffer->assign(size + sizeof(DWORD), 0);
  }
  return false;
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The path as the file functions take it: past MAX_PATH the "\\?\" form, which
// lifts the length limit but no longer turns "/" into "\".
std::wstring FilePath(const std::string& utf8) {
  std::wstring path = Utf8ToWide(utf8);
  if (path.size() < MAX_PATH - 12) return path;
  if (path.rfind(L"\\\\?\\", 0) == 0) return path;
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  if (path.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + path.substr(2);
  if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') return L"\\\\?\\" + path;
  return path;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  size_t end = folder.size();
  while (end > 0 && IsSeparator(wchar_t(folder[end - 1]))) --end;
  return folder.substr(0, end) + "\\" + name;
}

void EmptyCacheFolder(CacheFolderSource& folders, CacheFolder which) {
  std::optional<std::string> folder = folders.Folder(which);
  if (!folder || folder->empty()) return;
  Win32FolderFileSystem fs;
  // Only where the browser keeps the folder, and nothing outside it.
  core::EmptyBrowserFolder(fs, which, *folder, folders.AppData());
}

std::optional<std::string> ShellFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  // Without CSIDL_FLAG_CREATE: a folder that does not exist has nothing to clean.
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)) ||
      path[0] == L'\0') {
    return std::nullopt;
  }
  return WideToUtf8(path);
}

}  // namespace

bool ClearUrlCache(UrlCacheEntries which) {
  UrlCacheFind find;
  std::vector<BYTE> buffer;
  if (!FetchEntry(&find, &buffer)) return false;
  do {
    const auto* entry = reinterpret_cast<const INTERNET_CACHE_ENTRY_INFOW*>(buffer.data());
    bool cookie = (entry->CacheEntryType & COOKIE_CACHE_ENTRY) != 0;
    if (cookie == (which == UrlCacheEntries::kCookies) && entry->lpszSourceUrlName != nullptr) {
      DeleteUrlCacheEntryW(entry->lpszSourceUrlName);  // an entry in use stays
    }
  } while (FetchEntry(&find, &buffer));
  return true;
}

std::optional<std::string> ShellCacheFolders::Folder(CacheFolder which) {
  return ShellFolder(which == CacheFolder::kInternetCache ? CSIDL_INTERNET_CACHE : CSIDL_COOKIES);
}

core::AppDataFolders ShellCacheFolders::AppData() {
  return {ShellFolder(CSIDL_LOCAL_APPDATA).value_or(""), ShellFolder(CSIDL_APPDATA).value_or("")};
}

bool Win32FolderFileSystem::ListFolder(const std::string& folder,
                                       std::vector<core::FolderEntry>* entries) {
  entries->clear();
  std::wstring pattern = FilePath(JoinPath(folder, "*"));
  WIN32_FIND_DATAW data{};
  HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                 nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE && GetLastError() == ERROR_INVALID_PARAMETER) {
    // Systems that know neither the basic information level nor large fetches.
    find = FindFirstFileExW(pattern.c_str(), FindExInfoStandard, &data, FindExSearchNameMatch,
                            nullptr, 0);
  }
  if (find == INVALID_HANDLE_VALUE) {
    // A folder without even "." and ".." (a drive root) is listed and empty.
    return GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  do {
    core::FolderEntry e;
    e.name = WideToUtf8(data.cFileName);
    e.path = JoinPath(folder, e.name);
    e.is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    e.is_reparse_point = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    e.read_only = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    entries->push_back(std::move(e));
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return true;
}

bool Win32FolderFileSystem::ClearReadOnly(const std::string& path) {
  std::wstring p = FilePath(path);
  DWORD attributes = GetFileAttributesW(p.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) return true;
  attributes &= ~DWORD(FILE_ATTRIBUTE_READONLY);
  return SetFileAttributesW(p.c_str(), attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes) !=
         FALSE;
}

bool Win32FolderFileSystem::RemoveFile(const std::string& path) {
  return DeleteFileW(FilePath(path).c_str()) != FALSE;
}

bool Win32FolderFileSystem::RemoveEmptyFolder(const std::string& path) {
  return RemoveDirectoryW(FilePath(path).c_str()) != FALSE;
}

bool Win32FolderFileSystem::RemoveLink(const std::string& path) {
  std::wstring p = FilePath(path);
  // GetFileAttributesW describes the link itself, not its target.
  DWORD attributes = GetFileAttributesW(p.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    SetFileAttributesW(p.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
  }
  // A directory link (junction or directory symbolic link) goes with
  // RemoveDirectoryW, which removes the link and leaves the target's contents;
  // a file link with DeleteFileW, which deletes the link, not the file.
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return RemoveDirectoryW(p.c_str()) != FALSE;
  return DeleteFileW(p.c_str()) != FALSE;
}

std::optional<std::string> Win32FolderFileSystem::FinalPath(const std::string& path) {
  // No access asked and every sharing mode, so that files in use open too;
  // folders open only with backup semantics. Links are followed: the target
  // is what is asked for.
  UniqueFileHandle h(CreateFileW(FilePath(path).c_str(), 0,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h.valid()) return std::nullopt;
  std::wstring final_path(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    DWORD n = GetFinalPathNameByHandleW(h.get(), final_path.data(), DWORD(final_path.size()),
                                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0) return std::nullopt;
    if (n < final_path.size()) {
      final_path.resize(n);
      return WideToUtf8(final_path);
    }
    final_path.assign(size_t(n) + 1, L'\0');  // n counts the terminating zero here
  }
  return std::nullopt;
}

void ClearBrowserCache(CacheFolderSource& folders) {
  ClearUrlCache(UrlCacheEntries::kNonCookies);
  EmptyCacheFolder(folders, CacheFolder::kInternetCache);
}

void ClearCookies(CacheFolderSource& folders) {
  ClearUrlCache(UrlCacheEntries::kCookies);
  EmptyCacheFolder(folders, CacheFolder::kCookies);
}

}  // namespace win
