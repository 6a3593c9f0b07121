// WinFileWriter on the real file system of the Wine prefix: what a commit, a
// failed commit and an abandoned write leave in the folder, and that the end of
// the process in the middle of a write leaves no temporary file.
#include "win/platform/win_file_writer.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>

#include "win/testing/download_testing.h"

namespace win {
namespace {

void Put(const std::string& path, std::string_view bytes) {
  std::ofstream(core::PathFromUtf8(path), std::ios::binary) << bytes;
}

TEST(WinFileWriterTest, WhatEachEndingLeavesInTheFolder) {
  enum End { kCommit, kAbandon, kCommitOverFolder };
  struct Case {
    const char* name;
    const char* file;
    End end;
    bool committed;
    std::string content;  // of the target afterwards
  };
  const std::string written("1.2.3.4:80\r\n\0x", 14);
  const Case cases[] = {
      {"commit replaces the old list", "下载.txt", kCommit, true, written},
      {"abandoned: old list kept", "Download.txt", kAbandon, false, "old list\r\n"},
      {"a folder stands in the way", "Download.txt", kCommitOverFolder, false, ""},
  };
  for (const Case& c : cases) {
    ScratchFolder folder("file-writer");
    const std::string path = folder.File(c.file);
    if (c.end == kCommitOverFolder) {
      std::filesystem::create_directories(core::PathFromUtf8(path + "\\inside"));
    } else {
      Put(path, "old list\r\n");
    }
    Put(path + ".part", "left by an earlier version");
    WinFileWriter writer;
    std::unique_ptr<core::PendingFile> file = writer.Begin(path);
    ASSERT_TRUE(file) << c.name;
    ASSERT_TRUE(file->Write(written)) << c.name;
    if (c.end != kCommitOverFolder) {
      EXPECT_EQ(ReadWholeFile(path), "old list\r\n") << c.name << ": replaced before the commit";
    }
    if (c.end != kAbandon) {
      EXPECT_EQ(file->Commit(), c.committed) << c.name;
    }
    file.reset();
    if (c.end != kCommitOverFolder) {
      EXPECT_EQ(ReadWholeFile(path), c.content) << c.name;
    }
    EXPECT_EQ(folder.Count(), 1u) << c.name << ": a temporary file is left";
  }
  WinFileWriter writer;
  EXPECT_EQ(writer.Begin(ScratchFolder("file-writer").File("no such folder\\Download.txt")),
            nullptr);
}

// A cancelled download may still hold its file (its read not yet returned)
// when the user's next download of the same list begins.
TEST(WinFileWriterTest, AFileStillHeldDoesNotStopTheNextDownload) {
  ScratchFolder folder("file-writer-two");
  const std::string path = folder.File("Download.txt");
  WinFileWriter writer;
  std::unique_ptr<core::PendingFile> stale = writer.Begin(path);
  std::unique_ptr<core::PendingFile> next = writer.Begin(path);
  ASSERT_TRUE(stale && next);
  ASSERT_TRUE(stale->Write("partial"));
  ASSERT_TRUE(next->Write("2.2.2.2:80\r\n"));
  ASSERT_TRUE(next->Commit());
  stale.reset();
  EXPECT_EQ(ReadWholeFile(path), "2.2.2.2:80\r\n");
  EXPECT_EQ(folder.Count(), 1u);
}

// The program ends while a download's thread is in the middle of its file
// (a server that never finishes): the process goes, and its file with it.
TEST(WinFileWriterTest, TheEndOfTheProcessTakesTheTemporaryFileWithIt) {
  // The child process runs this test's lines up to EXPECT_EXIT again: the
  // folder's name must not depend on the process.
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::string dir = WideToUtf8(temp) + "relaymoth-file-writer-exit";
  std::error_code ec;
  std::filesystem::create_directories(core::PathFromUtf8(dir), ec);
  auto count = [&] {
    auto files = std::filesystem::directory_iterator(core::PathFromUtf8(dir), ec);
    return std::distance(files, std::filesystem::directory_iterator());
  };
  EXPECT_EXIT(
      {
        WinFileWriter writer;
        std::unique_ptr<core::PendingFile> file = writer.Begin(dir + "\\Download.txt");
        if (!file || !file->Write("1.2.3.4:80\r\n") || count() != 1) ExitProcess(1);
        file.release();  // never closed by the program: its thread was cut off
        ExitProcess(7);
      },
      ::testing::ExitedWithCode(7), "");
  EXPECT_EQ(count(), 0);
  std::filesystem::remove_all(core::PathFromUtf8(dir), ec);
}

}  // namespace
}  // namespace win
