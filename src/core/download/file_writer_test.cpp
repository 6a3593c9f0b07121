#include "core/download/file_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/base/file_path.h"

namespace core {
namespace {

namespace fs = std::filesystem;

class DownloadDiskWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("relaymoth_download_" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A UTF-8 path in the test folder; the Chinese name checks the conversion.
  std::string PathOf(std::string_view name) const {
    return PathToUtf8(dir_) + "/" + std::string(name);
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static void Put(const std::string& path, std::string_view bytes) {
    std::ofstream(PathFromUtf8(path), std::ios::binary) << bytes;
  }
  size_t FilesInDir() const {
    return size_t(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
  }

  fs::path dir_;
  DiskFileWriter writer_;
};

TEST_F(DownloadDiskWriterTest, CommitReplacesTheTargetAndLeavesNoTemporaryFile) {
  const std::string path = PathOf("下载.txt");
  Put(path, "old list\r\n");
  auto file = writer_.Begin(path);
  ASSERT_TRUE(file);
  ASSERT_TRUE(file->Write("1.2.3.4:80\r\n"));
  EXPECT_EQ(Read(path), "old list\r\n");  // untouched until the commit
  ASSERT_TRUE(file->Write(std::string_view("\0x", 2)));
  ASSERT_TRUE(file->Commit());
  file.reset();
  EXPECT_EQ(Read(path), std::string("1.2.3.4:80\r\n\0x", 14));
  EXPECT_EQ(FilesInDir(), 1u);
}

TEST_F(DownloadDiskWriterTest, AbandonedWriteKeepsTheTargetAndRemovesTheTemporaryFile) {
  const std::string path = PathOf("Download.txt");
  Put(path, "old list\r\n");
  Put(path + std::string(DiskFileWriter::kPendingSuffix), "stale part of an earlier run");
  auto file = writer_.Begin(path);
  ASSERT_TRUE(file);
  ASSERT_TRUE(file->Write("partial"));
  file.reset();
  EXPECT_EQ(Read(path), "old list\r\n");
  EXPECT_EQ(FilesInDir(), 1u);
}

TEST_F(DownloadDiskWriterTest, CommitFailsWhenTheTargetCannotBeReplaced) {
  // A folder with something in it stands where the file should go.
  const std::string path = PathOf("Download.txt");
  fs::create_directories(PathFromUtf8(path + "/inside"));
  auto file = writer_.Begin(path);
  ASSERT_TRUE(file);
  ASSERT_TRUE(file->Write("1.2.3.4:80\r\n"));
  EXPECT_FALSE(file->Commit());
  file.reset();
  EXPECT_TRUE(fs::is_directory(PathFromUtf8(path + "/inside")));
  EXPECT_EQ(FilesInDir(), 1u);
}

TEST_F(DownloadDiskWriterTest, BeginFailsInAMissingFolder) {
  EXPECT_EQ(writer_.Begin(PathOf("no such folder/Download.txt")), nullptr);
}

}  // namespace
}  // namespace core
