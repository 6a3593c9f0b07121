#include "core/sysproxy/empty_folder.h"

#include <optional>
#include <span>

#include "core/base/text.h"

namespace core {
namespace {

constexpr bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// An absolute path taken apart: its root ("C:", "\\SERVER\SHARE" or "/") and
// the steps below it.
struct PathSteps {
  std::string root;
  std::vector<std::string_view> steps;
};

std::vector<std::string_view> SplitSteps(std::string_view s) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && IsSeparator(s[i])) ++i;
    size_t start = i;
    while (i < s.size() && !IsSeparator(s[i])) ++i;
    if (i > start) out.push_back(s.substr(start, i - start));
  }
  return out;
}

// Drops "." steps; refuses any other step made only of dots and blanks, since
// Windows trims trailing dots and blanks and would read ".. " as "..".
bool CleanSteps(std::vector<std::string_view>* steps) {
  std::vector<std::string_view> kept;
  for (std::string_view step : *steps) {
    if (step == ".") continue;
    if (step.find_first_not_of(". ") == std::string_view::npos) return false;
    kept.push_back(step);
  }
  *steps = std::move(kept);
  return true;
}

std::optional<PathSteps> ParseUnc(std::string_view rest) {
  std::vector<std::string_view> steps = SplitSteps(rest);
  if (steps.size() < 2) return std::nullopt;  // a server without a share
  PathSteps p;
  p.root =
      AsciiUpperCopy(std::string("\\\\") + std::string(steps[0]) + "\\" + std::string(steps[1]));
  steps.erase(steps.begin(), steps.begin() + 2);
  p.steps = std::move(steps);
  return p;
}

std::optional<PathSteps> ParseDrive(std::string_view s) {
  // "C:" alone and "C:name" are relative to the drive's current folder.
  if (s.size() < 3 || s[1] != ':' || !IsSeparator(s[2])) return std::nullopt;
  char letter = AsciiUpper(s[0]);
  if (letter < 'A' || letter > 'Z') return std::nullopt;
  PathSteps p;
  p.root = std::string(1, letter) + ":";
  p.steps = SplitSteps(s.substr(3));
  return p;
}

std::optional<PathSteps> ParseAbsolute(std::string_view s) {
  std::optional<PathSteps> p;
  if (s.size() >= 4 && IsSeparator(s[0]) && IsSeparator(s[1]) && (s[2] == '?' || s[2] == '.') &&
      IsSeparator(s[3])) {
    // "\\?\C:\…" and "\\?\UNC\server\share\…": the long-path forms.
    std::string_view rest = s.substr(4);
    if (rest.size() >= 4 && EqualsIgnoreAsciiCase(rest.substr(0, 3), "UNC") &&
        IsSeparator(rest[3])) {
      p = ParseUnc(rest.substr(4));
    } else {
      p = ParseDrive(rest);
    }
  } else if (s.size() >= 2 && IsSeparator(s[0]) && IsSeparator(s[1])) {
    p = ParseUnc(s.substr(2));
  } else if (!s.empty() && IsSeparator(s[0])) {
    p = PathSteps{"/", SplitSteps(s)};
  } else {
    p = ParseDrive(s);
  }
  if (!p || !CleanSteps(&p->steps) || p->steps.empty()) return std::nullopt;
  return p;
}

// Whether `path` lies strictly below `folder` (both absolute, as
// IsFolderSafeToEmpty reads them).
bool IsBelow(std::string_view path, std::string_view folder) {
  std::optional<PathSteps> p = ParseAbsolute(path);
  std::optional<PathSteps> f = ParseAbsolute(folder);
  return p && f && p->steps.size() > f->steps.size() && IsFolderSafeToEmpty(path, folder);
}

// The sub-folders that mail and office programs keep in the browser's cache
// folder for their attachments and documents; they are not the browser's.
bool IsOtherProgramsFolder(std::string_view name) {
  return EqualsIgnoreAsciiCase(name, "Content.Outlook") ||
         EqualsIgnoreAsciiCase(name, "Content.MSO");
}

// `final_root` is the final path of the folder being emptied at the top.
bool EmptyTree(FolderFileSystem& fs, const std::string& folder, const std::string& final_root,
               int depth) {
  std::vector<FolderEntry> entries;
  if (!fs.ListFolder(folder, &entries)) return false;
  for (const FolderEntry& e : entries) {
    if (e.name.empty() || e.name == "." || e.name == "..") continue;
    // The folder's own look (its shell view settings) stays.
    if (EqualsIgnoreAsciiCase(e.name, "desktop.ini")) continue;
    if (e.is_directory && IsOtherProgramsFolder(e.name)) continue;
    // A junction or link inside a cache is never walked: it may point at the
    // user's own files. Only the link goes.
    if (e.is_reparse_point) {
      fs.RemoveLink(e.path);
      continue;
    }
    // Some platforms list a link as the file or folder it points to, and
    // delete the target when asked to delete the link: only what truly lies
    // inside the folder is touched.
    std::optional<std::string> final_path = fs.FinalPath(e.path);
    if (!final_path || !IsBelow(*final_path, final_root)) continue;
    if (e.read_only) fs.ClearReadOnly(e.path);
    if (e.is_directory) {
      if (depth < kMaxEmptyFolderDepth) {
        EmptyTree(fs, e.path, final_root, depth + 1);
        fs.RemoveEmptyFolder(e.path);  // fails when something in it stayed
      }
      continue;
    }
    fs.RemoveFile(e.path);  // a file in use stays
  }
  return true;
}

// The known places of the browser's folders below an application data folder.
constexpr std::string_view kCachePlaces[] = {R"(Microsoft\Windows\INetCache)",
                                             R"(Microsoft\Windows\Temporary Internet Files)"};
constexpr std::string_view kCookiePlaces[] = {R"(Microsoft\Windows\INetCookies)",
                                              R"(Microsoft\Windows\Cookies)"};

bool IsBelowKnownPlace(std::string_view folder, std::string_view base,
                       std::span<const std::string_view> places) {
  // An empty or relative base would make the places relative or rooted at "\".
  if (!ParseAbsolute(base)) return false;
  for (std::string_view place : places) {
    if (IsFolderSafeToEmpty(folder, std::string(base) + "\\" + std::string(place))) return true;
  }
  return false;
}

}  // namespace

bool IsFolderSafeToEmpty(std::string_view folder, std::string_view allowed_root) {
  std::optional<PathSteps> f = ParseAbsolute(folder);
  std::optional<PathSteps> root = ParseAbsolute(allowed_root);
  if (!f || !root || f->root != root->root || f->steps.size() < root->steps.size()) return false;
  for (size_t i = 0; i < root->steps.size(); ++i) {
    if (!EqualsIgnoreAsciiCase(f->steps[i], root->steps[i])) return false;
  }
  return true;
}

bool EmptyFolder(FolderFileSystem& fs, std::string_view folder, std::string_view allowed_root) {
  if (!IsFolderSafeToEmpty(folder, allowed_root)) return false;
  std::string path(folder);
  std::optional<std::string> final_root = fs.FinalPath(path);
  if (!final_root || !ParseAbsolute(*final_root)) return false;
  return EmptyTree(fs, path, *final_root, 0);
}

bool IsKnownBrowserFolder(BrowserFolder which, std::string_view folder,
                          const AppDataFolders& app_data) {
  if (which == BrowserFolder::kInternetCache) {
    return IsBelowKnownPlace(folder, app_data.local, kCachePlaces);
  }
  return IsBelowKnownPlace(folder, app_data.local, kCookiePlaces) ||
         IsBelowKnownPlace(folder, app_data.roaming, kCookiePlaces);
}

bool EmptyBrowserFolder(FolderFileSystem& fs, BrowserFolder which, std::string_view folder,
                        const AppDataFolders& app_data) {
  if (!IsKnownBrowserFolder(which, folder, app_data)) return false;
  return EmptyFolder(fs, folder, folder);
}

}  // namespace core
