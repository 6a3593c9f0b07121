// DownloadJob with the real WinInet downloader and disk files against the local
// test servers: the transfer runs on the job's thread while the test pumps the
// UI thread's messages, as the program does.
#include "win/app/download_job.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <string>

#include "win/testing/download_testing.h"

namespace win {
namespace {

TEST(DownloadJobTest, RunsOnItsThreadAndPostsProgressAndTheEnd) {
  REQUIRE_TEST_PORTS("WEB", "DEAD");
  struct Case {
    std::string url;
    bool report;
    int result;
    bool written;
  };
  const Case cases[] = {
      {TestUrl("WEB", "/dl/list.txt"), true, core::kDownloadOk, true},
      {TestUrl("WEB", "/dl/list-nolength.txt"), false, core::kDownloadOk, true},
      {TestUrl("DEAD", "/dl/list.txt"), true, core::kDownloadOpenFailed, false},
  };
  for (const Case& c : cases) {
    ScratchFolder folder("job");
    std::string path = folder.File("Download.txt");
    DownloadRecorder recorder;
    std::unique_ptr<DownloadJob> job = MakeWinInetDownloadJob();
    ASSERT_TRUE(job->Start({c.url, path, c.report}, recorder.hwnd())) << c.url;
    ASSERT_TRUE(PumpUntil([&] { return !recorder.ends.empty(); })) << c.url;

    EXPECT_FALSE(job->busy()) << c.url;
    ASSERT_EQ(recorder.ends.size(), 1u) << c.url;
    EXPECT_EQ(int(recorder.ends[0].result), c.result) << c.url;
    EXPECT_EQ(recorder.ends[0].report, c.report ? 1 : 0) << c.url;
    FinishedDownload finished;
    ASSERT_TRUE(job->TakeFinished(&finished)) << c.url;
    EXPECT_EQ(finished.outcome.result, c.result) << c.url;
    EXPECT_EQ(finished.request.path, path) << c.url;
    EXPECT_EQ(finished.outcome.reason.empty(), c.result == core::kDownloadOk) << c.url;
    EXPECT_FALSE(job->TakeFinished(&finished)) << c.url;
    EXPECT_EQ(FileExists(path), c.written) << c.url;
    if (c.written) {
      EXPECT_EQ(ReadWholeFile(path), kServedList) << c.url;
      EXPECT_EQ(recorder.progress_posts, 1) << c.url;
      EXPECT_EQ(job->TakeProgress().text.substr(0, 12), "0 KB / 0 KB ") << c.url;
    }
  }
}

// A server that never ends its answer keeps the one download running: a second
// start is refused until the user cancels it; the cancelled one posts nothing,
// leaves no file, and the next download runs at once to the same file.
TEST(DownloadJobTest, OneDownloadAtATimeUntilCancelled) {
  REQUIRE_TEST_PORTS("TRICKLE", "WEB");
  ScratchFolder folder("job-busy");
  std::string path = folder.File("Download.txt");
  DownloadRecorder recorder;
  auto job = MakeWinInetDownloadJob();
  ASSERT_TRUE(job->Start({TestUrl("TRICKLE", "/endless"), path, false}, recorder.hwnd()));
  ASSERT_TRUE(PumpUntil([&] { return recorder.progress_posts > 0; }));
  EXPECT_TRUE(job->busy());
  ASSERT_TRUE(job->running());
  EXPECT_EQ(job->running()->url, TestUrl("TRICKLE", "/endless"));
  EXPECT_FALSE(job->Start({TestUrl("WEB", "/dl/list.txt"), path, true}, recorder.hwnd()));

  EXPECT_TRUE(job->Cancel());
  EXPECT_FALSE(job->busy());
  EXPECT_FALSE(job->running());
  ASSERT_TRUE(job->Start({TestUrl("WEB", "/dl/list.txt"), path, true}, recorder.hwnd()));
  ASSERT_TRUE(PumpUntil([&] { return !recorder.ends.empty(); }));
  ASSERT_EQ(recorder.ends.size(), 1u);
  EXPECT_EQ(int(recorder.ends[0].result), core::kDownloadOk);
  EXPECT_EQ(ReadWholeFile(path), kServedList);
  // The cancelled transfer lets go of its file at its next byte.
  EXPECT_TRUE(PumpUntil([&] { return folder.Count() == 1; }));
  EXPECT_EQ(recorder.ends.size(), 1u);
  EXPECT_FALSE(job->Cancel());
}

// A server that accepts and never answers: WinInet waits for ever under Wine,
// and the deadline ends the download, frees the job and keeps the old list.
TEST(DownloadJobTest, TheDeadlineEndsADownloadThatNeverAnswers) {
  REQUIRE_TEST_PORTS("SILENT", "WEB");
  ScratchFolder folder("job-deadline");
  std::string path = folder.File("Download.txt");
  std::ofstream(core::PathFromUtf8(path), std::ios::binary) << "1.1.1.1:80\r\n";
  DownloadRecorder recorder;
  auto job = MakeWinInetDownloadJob();
  // The request's own deadline, shorter than the job's five minutes.
  ASSERT_TRUE(job->Start({TestUrl("SILENT", "/dl/list.txt"), path, true, 1000}, recorder.hwnd()));
  ASSERT_TRUE(PumpUntil([&] { return !recorder.ends.empty(); }));
  EXPECT_EQ(int(recorder.ends[0].result), core::kDownloadReadFailed);
  FinishedDownload finished;
  ASSERT_TRUE(job->TakeFinished(&finished));
  EXPECT_FALSE(finished.outcome.reason.empty());
  EXPECT_FALSE(job->busy());
  EXPECT_EQ(ReadWholeFile(path), "1.1.1.1:80\r\n");

  ASSERT_TRUE(job->Start({TestUrl("WEB", "/dl/list.txt"), path, true}, recorder.hwnd()));
  ASSERT_TRUE(PumpUntil([&] { return recorder.ends.size() == 2; }));
  EXPECT_EQ(int(recorder.ends[1].result), core::kDownloadOk);
  EXPECT_EQ(ReadWholeFile(path), kServedList);
}

TEST(DownloadTargetPathTest, ProgramFolderWhenWritableElseLocalAppData) {
  ScratchFolder program("program");
  ScratchFolder local("local");
  struct Case {
    std::string program_folder;
    std::string expected;
  };
  const Case cases[] = {
      {program.path(), program.File("Download.txt")},
      {program.path() + "\\", program.File("Download.txt")},
      {program.File("missing"), local.path() + "\\Relaymoth\\Download.txt"},
      {"", local.path() + "\\Relaymoth\\Download.txt"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DownloadTargetPath(c.program_folder, local.path()), c.expected) << c.program_folder;
  }
  // The fallback folder is there to be written into, and the probe left nothing.
  EXPECT_TRUE(FileExists(local.path() + "\\Relaymoth"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(core::PathFromUtf8(program.path())),
                          std::filesystem::directory_iterator()),
            0);
}

}  // namespace
}  // namespace win
