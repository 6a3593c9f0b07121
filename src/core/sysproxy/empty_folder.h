// Emptying a browser cache folder: the depth-first walk that deletes every file
// and sub-folder of the Temporary Internet Files or Cookies folder except the
// folders' "desktop.ini" and other programs' own sub-folders, over a small
// file-system seam, and the guards that keep it to the browser's known folders
// and inside them. Links are removed, never followed. Runs on whichever thread
// the caller does the cleanup on.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace core {

// One name in a folder listing.
struct FolderEntry {
  std::string name;  // as listed; "." and ".." may appear and are skipped
  std::string path;  // the full path to hand back to the other calls
  bool is_directory = false;
  bool is_reparse_point = false;  // a junction, symbolic link or other reparse point
  bool read_only = false;
};

// The file operations the walk needs. Paths are UTF-8. Implementations never
// follow a link in any call; each returns false when the platform refused.
class FolderFileSystem {
 public:
  virtual ~FolderFileSystem() = default;
  // Replaces `entries` with the folder's entries; false when it cannot be listed.
  virtual bool ListFolder(const std::string& folder, std::vector<FolderEntry>* entries) = 0;
  virtual bool ClearReadOnly(const std::string& path) = 0;
  virtual bool RemoveFile(const std::string& path) = 0;
  virtual bool RemoveEmptyFolder(const std::string& path) = 0;
  // Removes the link itself (clearing its own read-only mark where needed),
  // never the folder or file it points to.
  virtual bool RemoveLink(const std::string& path) = 0;
  // The absolute path that `path` finally leads to, every link on the way
  // followed, in a form that compares with other answers of this call;
  // nullopt when it cannot be told (a dangling link, no access).
  virtual std::optional<std::string> FinalPath(const std::string& path) = 0;
};

// Folders nested deeper than this below the emptied folder are left in place,
// so that a hostile tree cannot exhaust the stack.
inline constexpr int kMaxEmptyFolderDepth = 256;

// Whether `folder` may be emptied: both it and `allowed_root` are absolute
// paths ("C:\…", "\\server\share\…", "\\?\…" or "/…") that name more than a
// root (a drive, a share or "/"), contain no ".." step, and `folder` is
// `allowed_root` or lies inside it. Separators "\" and "/" count alike, repeated
// and trailing separators and "." steps are ignored, letters compare ignoring
// ASCII case.
bool IsFolderSafeToEmpty(std::string_view folder, std::string_view allowed_root);

// Deletes everything in `folder` except files named "desktop.ini" (any letter
// case) and the sub-folders other programs keep in the cache ("Content.Outlook",
// "Content.MSO", at any depth, any letter case), depth first: read-only marks
// are cleared, sub-folders are emptied and then removed, links are removed
// without being followed, and files that cannot be deleted (in use) are left.
// An entry not marked as a link whose final path lies outside `folder`'s own
// final path (a link the platform reports as a plain file or folder) is left
// alone, and so is one whose final path cannot be told. `allowed_root` is the
// folder the caller allows; a folder that fails IsFolderSafeToEmpty, or whose
// final path cannot be told, is refused and nothing is touched. Returns false
// when refused or when `folder` cannot be listed; failures below it are ignored.
bool EmptyFolder(FolderFileSystem& fs, std::string_view folder, std::string_view allowed_root);

// The browser's two folders that the cleanup empties.
enum class BrowserFolder { kInternetCache, kCookies };

// The current user's application data folders as the platform names them;
// empty when unknown.
struct AppDataFolders {
  std::string local;    // the local (not roaming) application data folder
  std::string roaming;  // the roaming application data folder
};

// Whether `folder` is, or lies inside, a place where the browser keeps that
// folder, below the application data folders: the cache in
// "Microsoft\Windows\INetCache" or "Microsoft\Windows\Temporary Internet Files"
// of the local one; the cookies in "Microsoft\Windows\INetCookies" or
// "Microsoft\Windows\Cookies" of the local or the roaming one. An application
// data folder that is not an absolute path below a root counts as unknown.
// Paths compare as in IsFolderSafeToEmpty.
bool IsKnownBrowserFolder(BrowserFolder which, std::string_view folder,
                          const AppDataFolders& app_data);

// EmptyFolder on the browser's folder `which` that the platform named as
// `folder`; refused (false, nothing touched) unless IsKnownBrowserFolder.
bool EmptyBrowserFolder(FolderFileSystem& fs, BrowserFolder which, std::string_view folder,
                        const AppDataFolders& app_data);

}  // namespace core
