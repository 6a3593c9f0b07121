// Helpers of the list download's Windows tests: a message-only window that
// records what a download posts or sends, and a scratch folder (the servers'
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

// A message-only window that records WM_DOWNLOAD_DONE and WM_DOWNLOAD_PROGRESS,
// with whether `watched` was visible when each end arrived.
class DownloadRecorder final : public DownloadDoneHandler {
 public:
  struct End {
    WPARAM result;
    LPARAM report;
    bool watched_visible;
  };

  DownloadRecorder() {
    static const wchar_t kClass[] = L"RelaymothDownloadRecorder";
    WNDCLASSW wc{};
    wc.lpfnWndProc = &Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClass;
    RegisterClassW(&wc);  // already registered is fine
    hwnd_ = CreateWindowExW(0, kClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, LONG_PTR(this));
  }
  ~DownloadRecorder() override { DestroyWindow(hwnd_); }
  DownloadRecorder(const DownloadRecorder&) = delete;
  DownloadRecorder& operator=(const DownloadRecorder&) = delete;

  HWND hwnd() const { return hwnd_; }
  // A download's end, posted to the window or handed over by the progress window.
  void OnDownloadDone(WPARAM result, LPARAM report) override {
    ends.push_back({result, report, watched && IsWindowVisible(watched)});
  }
  HWND watched = nullptr;
  std::vector<End> ends;
  int progress_posts = 0;

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    auto* self = reinterpret_cast<DownloadRecorder*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self != nullptr && msg == WM_DOWNLOAD_DONE) {
      self->OnDownloadDone(wparam, lparam);
      return 0;
    }
    if (self != nullptr && msg == WM_DOWNLOAD_PROGRESS) {
      ++self->progress_posts;
      return 0;
    }
    return DefWindowProcW(hwnd, msg, wparam, lparam);
  }

  HWND hwnd_ = nullptr;
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
