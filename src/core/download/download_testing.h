// Test doubles for the download seams: a scripted downloader that answers by URL
// and moves a manual clock while it "reads", and a file writer that keeps files
// in memory and can be told to fail. Test code only.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/download/file_writer.h"
#include "core/download/url_downloader.h"
#include "core/verify/verify_testing.h"

namespace core {

// What the server does for one URL.
struct UrlScript {
  bool open_fails = false;
  int status = 200;
  std::optional<uint64_t> content_length;
  std::vector<std::string> chunks;     // one per read; a chunk larger than the buffer is split
  size_t repeat = 1;                   // the chunks are sent this many times over
  std::optional<size_t> fail_at_read;  // this read (0-based) fails
  uint32_t ms_per_read = 0;            // the clock moves on by this during each read
};

class ScriptedDownloader final : public UrlDownloader {
 public:
  explicit ScriptedDownloader(ManualClock& clock) : clock_(clock) {}

  SessionFailure session_failure = SessionFailure::kNone;  // OpenSession fails with it
  std::map<std::string, UrlScript> scripts;                // by URL; unknown URLs fail to open
  std::vector<std::string> opened;                         // every OpenUrl, in order
  std::vector<size_t> read_capacities;                     // every Read's buffer size
  bool aborted = false;

  std::unique_ptr<UrlSession> OpenSession(SessionFailure* failure) override;
  void Abort() override { aborted = true; }

 private:
  ManualClock& clock_;
};

class MemoryFileWriter final : public FileWriter {
 public:
  std::map<std::string, std::string> files;  // committed files by path
  bool begin_fails = false;
  std::optional<size_t> write_fails_at;  // this write (0-based) fails
  bool commit_fails = false;
  std::vector<size_t> write_sizes;  // every successful write
  int begun = 0;                    // Begin calls that gave a file

  std::unique_ptr<PendingFile> Begin(std::string_view path) override;
};

}  // namespace core
