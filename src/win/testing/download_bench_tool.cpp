// relaymoth-download-bench.exe: times the list download as the program runs it
// (WinInet, chunks of 16 KB, the file written through its temporary copy) and
// prints the size, the time and the speed.
//   relaymoth-download-bench URL [RUNS]
// With the test servers up (scripts/verify-servers.sh), the web server's
// /dl/big.txt is a 10 MiB list.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>

#include "core/download/download_file.h"
#include "win/platform/wide_text.h"
#include "win/platform/win_clock.h"
#include "win/platform/win_file_writer.h"
#include "win/platform/wininet_url_downloader.h"

namespace {

// The program formats a progress text after every chunk; so does the bench.
class CountingProgress final : public core::DownloadProgress {
 public:
  void OnText(std::string_view text) override {
    ++texts;
    last = std::string(text);
  }
  void OnPosition(int) override {}
  int texts = 0;
  std::string last;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fwprintf(stderr, L"usage: relaymoth-download-bench URL [RUNS]\n");
    return 2;
  }
  std::string url = win::WideToUtf8(argv[1]);
  int runs = argc > 2 ? std::max(1, _wtoi(argv[2])) : 3;
  std::string path = win::WideToUtf8(win::GetModuleFolder()) + "download-bench.txt";
  int failures = 0;
  for (int i = 0; i < runs; ++i) {
    win::WinInetUrlDownloader downloader;
    win::WinFileWriter files;
    win::WinClock clock;
    double start = win::PreciseMs();
    CountingProgress progress;
    core::DownloadOutcome outcome =
        core::DownloadFile(downloader, files, clock, url, path, &progress);
    double seconds = (win::PreciseMs() - start) / 1000.0;
    if (outcome.result != core::kDownloadOk) {
      std::printf("run %d: result %d (%s)\n", i + 1, outcome.result, outcome.reason.c_str());
      ++failures;
      continue;
    }
    std::printf("run %d: %llu bytes in %.3f s = %.1f MiB/s, %d chunks, last text \"%s\"\n",
                i + 1, static_cast<unsigned long long>(outcome.bytes), seconds,
                double(outcome.bytes) / (1024.0 * 1024.0) / seconds, progress.texts,
                progress.last.c_str());
  }
  DeleteFileW(win::Utf8ToWide(path).c_str());
  return failures == 0 ? 0 : 1;
}
