// Helpers of the list download's Windows tests: a download watcher that
// records what a download posts or hands over, and a scratch folder (the servers'
// ports and the message pump are test_servers.h's). Test code only; UI thread.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "core/base/file_path.h"
#include "win/app/download_job.h"
#include "win/platform/wide_text.h"
#include "win/testing/test_servers.h"

namespace win {

// What tests/e2e/verify_servers.py serves as its list (/dl/list.txt, FTP list.txt).
inline constexpr char kServedList[] = "10.0.0.1:8080\r\n10.0.0.2:3128@HTTP\r\n10.0.0.3:1080\r\n";

// Records the ends and progress posts of the downloads it watches, with
// whether `watched` was visible when each end arrived.
class DownloadRecorder final : public DownloadWatcher {
 public:
  struct End {
    WPARAM result;
    LPARAM report;
    bool watched_visible;
  };

  // A download's end, posted by the job or handed over by the progress window.
  void OnDownloadDone(WPARAM result, LPARAM report) override {
    ends.push_back({result, report, watched && IsWindowVisible(watched)});
  }
  void OnDownloadProgress() override { ++progress_posts; }
  Poster download_poster() const override { return inbox_.poster(); }

  HWND watched = nullptr;
  std::vector<End> ends;
  int progress_posts = 0;

 private:
  Inbox inbox_;
};

// A fresh folder under the temporary folder, removed with the object. UTF-8.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& name) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    path_ = WideToUtf8(temp) + "relaymoth-" + name + "-" + std::to_string(GetCurrentProcessId());
    std::error_code ec;
    std::filesystem::remove_all(core::PathFromUtf8(path_), ec);
    std::filesystem::create_directories(core::PathFromUtf8(path_), ec);
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(core::PathFromUtf8(path_), ec);
  }
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "\\" + name; }
  // Files and folders in it now.
  size_t Count() const {
    std::error_code ec;
    std::filesystem::directory_iterator dir(core::PathFromUtf8(path_), ec);
    return ec ? 0 : size_t(std::distance(dir, std::filesystem::directory_iterator()));
  }

 private:
  std::string path_;
};

inline bool FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(core::PathFromUtf8(path), ec);
}

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(core::PathFromUtf8(path), std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace win
