// Emptying a browser cache folder: the depth-first walk that deletes every file
// and sub-folder of the Temporary Internet Files or Cookies folder except the
// folders' "desktop.ini", over a small file-system seam, and the guard that
// keeps it inside the folder the platform named. Links are removed, never
// followed. Runs on whichever thread the caller does the cleanup on.
#pragma once

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
// case), depth first: read-only marks are cleared, sub-folders are emptied and
// then removed, links are removed without being followed, and files that cannot
// be deleted (in use) are left. `allowed_root` is the special folder the
// platform named; a folder that fails IsFolderSafeToEmpty is refused and
// nothing is touched. Returns false when refused or when `folder` cannot be
// listed; failures below it are ignored.
bool EmptyFolder(FolderFileSystem& fs, std::string_view folder, std::string_view allowed_root);

}  // namespace core
