#include "core/download/download_file.h"

#include <gtest/gtest.h>

#include "core/download/download_testing.h"

namespace core {
namespace {

constexpr char kUrl[] = "http://127.0.0.1/list.txt";
constexpr char kPath[] = "C:\\prog\\Download.txt";
constexpr char kOld[] = "1.1.1.1:80\r\n";  // the list an earlier download left

struct RecordingProgress final : DownloadProgress {
  std::vector<std::string> texts;
  std::vector<int> positions;
  void OnText(std::string_view text) override { texts.emplace_back(text); }
  void OnPosition(int percent) override { positions.push_back(percent); }
};

struct Transfer {
  DownloadOutcome outcome;
  MemoryFileWriter files;
  RecordingProgress progress;
  std::vector<size_t> read_capacities;
  std::vector<std::string> opened;
};

// Downloads kUrl into kPath, which holds kOld beforehand.
void Download(const UrlScript& script, Transfer* run,
              SessionFailure session_failure = SessionFailure::kNone) {
  ManualClock clock(5000);
  ScriptedDownloader downloader(clock);
  downloader.session_failure = session_failure;
  downloader.scripts[kUrl] = script;
  run->files.files[kPath] = kOld;
  run->outcome = DownloadFile(downloader, run->files, clock, kUrl, kPath, &run->progress);
  run->read_capacities = downloader.read_capacities;
  run->opened = downloader.opened;
}

UrlScript Body(std::vector<std::string> chunks, std::optional<uint64_t> length = std::nullopt) {
  UrlScript s;
  s.chunks = std::move(chunks);
  s.content_length = length;
  return s;
}

TEST(DownloadFileTest, ResultCodesAndWhatIsLeftInTheFile) {
  UrlScript not_found = Body({"404 Not Found"});
  not_found.status = 404;
  UrlScript server_error = Body({"500 oops"});
  server_error.status = 500;
  UrlScript redirect = Body({"moved"});
  redirect.status = 302;
  UrlScript ftp = Body({"2.2.2.2:21\n"});
  ftp.status = 0;
  UrlScript no_content = Body({});
  no_content.status = 204;
  UrlScript cannot_open;
  cannot_open.open_fails = true;
  UrlScript dies_midway = Body({"2.2.2.2:80\n", "3.3.3.3:80\n", "4.4.4.4:80\n"}, 33);
  dies_midway.fail_at_read = 1;
  UrlScript dies_at_once = Body({"2.2.2.2:80\n"});
  dies_at_once.fail_at_read = 0;

  struct Case {
    const char* name;
    UrlScript script;
    SessionFailure session = SessionFailure::kNone;
    int result;
    std::optional<std::string> file;  // the file afterwards; nullopt: still kOld
    bool file_created;                // a temporary file was begun
  } cases[] = {
      {"with length",
       Body({"2.2.2.2:80\n", "3.3.3.3:80\n"}, 22),
       {},
       0,
       "2.2.2.2:80\n3.3.3.3:80\n",
       true},
      {"no length", Body({"2.2.2.2:80\r\n", "3.3.3.3"}), {}, 0, "2.2.2.2:80\r\n3.3.3.3", true},
      {"empty body", Body({}), {}, 0, "", true},
      {"empty body, length 0", Body({}, 0), {}, 0, "", true},
      {"204", no_content, {}, 0, "", true},
      {"ftp has no status", ftp, {}, 0, "2.2.2.2:21\n", true},
      {"404", not_found, {}, 1, std::nullopt, false},
      {"500", server_error, {}, 1, std::nullopt, false},
      {"302 not followed", redirect, {}, 1, std::nullopt, false},
      {"cannot open", cannot_open, {}, 1, std::nullopt, false},
      {"modem busy", Body({"x"}), SessionFailure::kModemBusy, 4, std::nullopt, false},
      {"no session", Body({"x"}), SessionFailure::kNoInternet, 4, std::nullopt, false},
      {"read fails mid-way", dies_midway, {}, 3, std::nullopt, true},
      {"read fails at once", dies_at_once, {}, 3, std::nullopt, true},
      {"ends short of its length", Body({"2.2.2.2:80\n"}, 5000), {}, 3, std::nullopt, true},
      {"length over the limit", Body({"x"}, kMaxDownloadBytes + 1), {}, 3, std::nullopt, false},
  };
  for (const Case& c : cases) {
    Transfer run;
    Download(c.script, &run, c.session);
    EXPECT_EQ(run.outcome.result, c.result) << c.name;
    EXPECT_EQ(run.files.files[kPath], c.file.value_or(kOld)) << c.name;
    EXPECT_EQ(run.files.begun, c.file_created ? 1 : 0) << c.name;
    EXPECT_EQ(run.outcome.reason.empty(), c.result == 0) << c.name << ": " << run.outcome.reason;
    if (c.session != SessionFailure::kNone) {
      EXPECT_TRUE(run.opened.empty()) << c.name;
    }
  }
}

TEST(DownloadFileTest, FileFailuresAreCodeTwoAndKeepTheOldFile) {
  struct Case {
    const char* name;
    bool begin_fails;
    std::optional<size_t> write_fails_at;
    bool commit_fails;
  } cases[] = {
      {"cannot create", true, std::nullopt, false},
      {"second write fails", false, 1, false},
      {"cannot put in place", false, std::nullopt, true},
  };
  for (const Case& c : cases) {
    Transfer run;
    run.files.begin_fails = c.begin_fails;
    run.files.write_fails_at = c.write_fails_at;
    run.files.commit_fails = c.commit_fails;
    Download(Body({"2.2.2.2:80\n", "3.3.3.3:80\n"}), &run);
    EXPECT_EQ(run.outcome.result, kDownloadFileFailed) << c.name;
    EXPECT_EQ(run.files.files[kPath], kOld) << c.name;
    EXPECT_FALSE(run.outcome.reason.empty()) << c.name;
  }
}

TEST(DownloadFileTest, ChunksOfAtMost16KBWrittenAsTheyCome) {
  Transfer run;
  Download(Body({std::string(40000, '7'), "12"}), &run);
  ASSERT_EQ(run.outcome.result, kDownloadOk);
  EXPECT_EQ(run.outcome.bytes, 40002u);
  EXPECT_EQ(run.files.write_sizes, (std::vector<size_t>{16384, 16384, 7232, 2}));
  for (size_t cap : run.read_capacities) EXPECT_EQ(cap, kDownloadChunkBytes);
}

TEST(DownloadFileTest, BodyOverTheLimitIsCutOff) {
  const std::string chunk(kDownloadChunkBytes, '1');
  const size_t chunks_in_limit = kMaxDownloadBytes / kDownloadChunkBytes;
  struct Case {
    size_t repeat;
    int result;
  } cases[] = {{chunks_in_limit, kDownloadOk}, {chunks_in_limit + 1, kDownloadReadFailed}};
  for (const Case& c : cases) {
    Transfer run;
    UrlScript s = Body({chunk});
    s.repeat = c.repeat;
    Download(s, &run);
    EXPECT_EQ(run.outcome.result, c.result) << c.repeat << " chunks";
    if (c.result != kDownloadOk) {
      EXPECT_EQ(run.files.files[kPath], kOld);
      // Reading stops at the limit: nothing past it is asked for.
      EXPECT_EQ(run.read_capacities.size(), chunks_in_limit + 1);
    } else {
      EXPECT_EQ(run.files.files[kPath].size(), kMaxDownloadBytes);
    }
  }
}

TEST(DownloadFileTest, ProgressTextsSpeedAndPosition) {
  struct Case {
    const char* name;
    uint32_t clock_start;
    uint32_t ms_per_read;
    std::optional<uint64_t> length;
    std::vector<std::string> texts;
    std::vector<int> positions;
  } cases[] = {
      // The first display always uses 10 ms; later ones the time measured
      // before the read that brought their chunk.
      {"500 ms a read",
       5000,
       500,
       40960,
       {"16 KB / 40 KB @ 1600.0 KB/s", "32 KB / 40 KB @ 64.0 KB/s", "40 KB / 40 KB @ 40.0 KB/s"},
       {40, 80, 100}},
      {"instant reads use 10 ms",
       5000,
       0,
       40960,
       {"16 KB / 40 KB @ 1600.0 KB/s", "32 KB / 40 KB @ 3200.0 KB/s",
        "40 KB / 40 KB @ 4000.0 KB/s"},
       {40, 80, 100}},
      {"clock wraps",
       0xFFFFFFFFu - 99,
       500,
       40960,
       {"16 KB / 40 KB @ 1600.0 KB/s", "32 KB / 40 KB @ 64.0 KB/s", "40 KB / 40 KB @ 40.0 KB/s"},
       {40, 80, 100}},
      {"no length: no position, 0 KB total",
       5000,
       500,
       std::nullopt,
       {"16 KB / 0 KB @ 1600.0 KB/s", "32 KB / 0 KB @ 64.0 KB/s", "40 KB / 0 KB @ 40.0 KB/s"},
       {}},
  };
  for (const Case& c : cases) {
    ManualClock clock(c.clock_start);
    ScriptedDownloader downloader(clock);
    UrlScript s =
        Body({std::string(16384, '1'), std::string(16384, '2'), std::string(8192, '3')}, c.length);
    s.ms_per_read = c.ms_per_read;
    downloader.scripts[kUrl] = s;
    MemoryFileWriter files;
    RecordingProgress progress;
    DownloadOutcome out = DownloadFile(downloader, files, clock, kUrl, kPath, &progress);
    EXPECT_EQ(out.result, kDownloadOk) << c.name;
    EXPECT_EQ(progress.texts, c.texts) << c.name;
    EXPECT_EQ(progress.positions, c.positions) << c.name;
  }
}

TEST(DownloadFileTest, PositionOfLargeBodiesDoesNotWrapAndStopsAt100) {
  struct Case {
    const char* name;
    size_t chunks;
    uint64_t length;
    int last_position;
  } cases[] = {
      // The most a download takes: received × 100 passes 2^31 on the way.
      {"10 MB", 640, 640 * 16384, 100},
      {"more than announced", 4, 2 * 16384, 100},
  };
  for (const Case& c : cases) {
    Transfer run;
    UrlScript s = Body({std::string(16384, '1')}, c.length);
    s.repeat = c.chunks;
    Download(s, &run);
    ASSERT_FALSE(run.progress.positions.empty()) << c.name;
    for (size_t i = 1; i < run.progress.positions.size(); ++i) {
      ASSERT_GE(run.progress.positions[i], run.progress.positions[i - 1]) << c.name << " " << i;
    }
    EXPECT_EQ(run.progress.positions.back(), c.last_position) << c.name;
  }
}

TEST(DownloadFileTest, WherePathGoes) {
  struct Case {
    const char* program;
    bool writable;
    const char* expected;
  } cases[] = {
      {"C:\\Program Files\\Relaymoth\\", true, "C:\\Program Files\\Relaymoth\\Download.txt"},
      {"D:\\tools", true, "D:\\tools\\Download.txt"},
      {"C:\\Program Files\\Relaymoth\\", false,
       "C:\\Users\\张三\\AppData\\Local\\Relaymoth\\Download.txt"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> probed;
    auto writable = [&](std::string_view folder) {
      probed.emplace_back(folder);
      return c.writable;
    };
    EXPECT_EQ(DownloadFilePath(c.program, "C:\\Users\\张三\\AppData\\Local", writable), c.expected)
        << c.program << " writable=" << c.writable;
    EXPECT_EQ(probed, std::vector<std::string>{c.program});
  }
}

}  // namespace
}  // namespace core
