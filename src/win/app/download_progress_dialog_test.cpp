// The download progress window, created for real over a real job, against the
// local test servers. The handler of the result is a recorder.
#include "win/app/download_progress_dialog.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "win/res/resource.h"
#include "win/testing/download_testing.h"
#include "win/ui/dialog_text.h"

namespace win {
namespace {

class DownloadProgressDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    job_ = MakeWinInetDownloadJob();
    dialog_ = std::make_unique<DownloadProgressDialog>(*job_);
    ASSERT_TRUE(dialog_->Create(nullptr, &recorder_));
    recorder_.watched = dialog_->hwnd();
  }

  std::string Label() const { return DialogItemText(dialog_->hwnd(), IDC_DOWNLOAD_STATUS); }
  bool Visible() const { return IsWindowVisible(dialog_->hwnd()) != FALSE; }

  ScratchFolder folder_{"progress"};
  DownloadRecorder recorder_;
  std::unique_ptr<DownloadJob> job_;
  std::unique_ptr<DownloadProgressDialog> dialog_;
};

// The UI thread only pumps messages while the list arrives; the window shows
// "正在连接服务器..." and then the progress text, hides, and only then hands the
// result on.
TEST_F(DownloadProgressDialogTest, UserStartShowsProgressAndHandsOnTheResult) {
  REQUIRE_TEST_PORTS("WEB");
  const std::string path = folder_.File("Download.txt");
  ASSERT_TRUE(dialog_->StartVisible(TestUrl("WEB", "/dl/list.txt"), path));
  EXPECT_TRUE(Visible());
  EXPECT_EQ(Label(), "正在连接服务器...");
  ASSERT_TRUE(PumpUntil([&] { return !recorder_.ends.empty(); }));

  ASSERT_EQ(recorder_.ends.size(), 1u);
  EXPECT_EQ(recorder_.ends[0].result, WPARAM(core::kDownloadOk));
  EXPECT_EQ(recorder_.ends[0].report, 1);
  EXPECT_FALSE(recorder_.ends[0].watched_visible);
  EXPECT_EQ(Label().substr(0, 12), "0 KB / 0 KB ") << Label();
  EXPECT_EQ(ReadWholeFile(path), kServedList);

  // The next show starts from the connecting text again.
  ASSERT_TRUE(dialog_->StartVisible(TestUrl("WEB", "/dl/list.txt"), path));
  EXPECT_EQ(Label(), "正在连接服务器...");
  ASSERT_TRUE(PumpUntil([&] { return recorder_.ends.size() == 2; }));
}

TEST_F(DownloadProgressDialogTest, AutomaticDownloadNeverShowsTheWindow) {
  REQUIRE_TEST_PORTS("WEB");
  bool ever_visible = false;
  ASSERT_TRUE(dialog_->ArmHidden(TestUrl("WEB", "/dl/list.txt"), folder_.File("Download.txt")));
  ASSERT_TRUE(PumpUntil([&] {
    ever_visible |= Visible();
    return !recorder_.ends.empty();
  }));
  EXPECT_FALSE(ever_visible);
  ASSERT_EQ(recorder_.ends.size(), 1u);
  EXPECT_EQ(recorder_.ends[0].result, WPARAM(core::kDownloadOk));
  EXPECT_EQ(recorder_.ends[0].report, 0);
}

// The slow server answers after a moment: the user's start finds the automatic
// download running, shows it and has it reported instead of starting another.
TEST_F(DownloadProgressDialogTest, UserStartTakesOverARunningAutomaticDownload) {
  REQUIRE_TEST_PORTS("SLOW", "WEB");
  const std::string automatic = folder_.File("Download.txt");
  ASSERT_TRUE(dialog_->ArmHidden(TestUrl("SLOW", "/dl/list.txt"), automatic));
  EXPECT_FALSE(dialog_->ArmHidden(TestUrl("WEB", "/dl/list.txt"), folder_.File("other.txt")));
  ASSERT_TRUE(dialog_->StartVisible(TestUrl("WEB", "/dl/list.txt"), folder_.File("user.txt")));
  EXPECT_TRUE(Visible());
  ASSERT_TRUE(PumpUntil([&] { return !recorder_.ends.empty(); }));

  ASSERT_EQ(recorder_.ends.size(), 1u);
  EXPECT_EQ(recorder_.ends[0].result, WPARAM(core::kDownloadOk));
  EXPECT_EQ(recorder_.ends[0].report, 1);
  EXPECT_FALSE(Visible());
  FinishedDownload finished;
  ASSERT_TRUE(job_->TakeFinished(&finished));
  EXPECT_EQ(finished.request.path, automatic);
  EXPECT_TRUE(finished.request.report);
  EXPECT_FALSE(FileExists(folder_.File("user.txt")));
  EXPECT_FALSE(FileExists(folder_.File("other.txt")));
}

}  // namespace
}  // namespace win
