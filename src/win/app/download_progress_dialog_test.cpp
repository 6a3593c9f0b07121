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

// The slow server answers after a moment, so the user's start finds the first
// download running. An automatic one, of his list or another, makes way for
// his; his own one of the same list goes on and is shown.
TEST_F(DownloadProgressDialogTest, UserStartFetchesHisListAndTakesOverOnlyHisOwn) {
  REQUIRE_TEST_PORTS("SLOW", "WEB");
  struct Case {
    const char* name;
    bool first_automatic;
    std::string user_url;
    bool taken_over;
  };
  const Case cases[] = {
      {"automatic, same list", true, TestUrl("SLOW", "/dl/list.txt"), false},
      {"automatic, another list", true, TestUrl("WEB", "/dl/list.txt"), false},
      {"the user's own, same list", false, TestUrl("SLOW", "/dl/list.txt"), true},
  };
  for (const Case& c : cases) {
    ScratchFolder folder("progress-user");
    const std::string first = folder.File("first.txt");
    const std::string user = folder.File("user.txt");
    recorder_.ends.clear();
    const std::string first_url = TestUrl("SLOW", "/dl/list.txt");
    ASSERT_TRUE(c.first_automatic ? dialog_->ArmHidden(first_url, first)
                                  : dialog_->StartVisible(first_url, first))
        << c.name;
    EXPECT_FALSE(dialog_->ArmHidden(TestUrl("WEB", "/dl/list.txt"), folder.File("other.txt")))
        << c.name;
    ASSERT_TRUE(dialog_->StartVisible(c.user_url, user)) << c.name;
    EXPECT_TRUE(Visible()) << c.name;
    ASSERT_TRUE(PumpUntil([&] { return !recorder_.ends.empty(); })) << c.name;

    ASSERT_EQ(recorder_.ends.size(), 1u) << c.name;
    EXPECT_EQ(recorder_.ends[0].result, WPARAM(core::kDownloadOk)) << c.name;
    EXPECT_EQ(recorder_.ends[0].report, 1) << c.name;
    EXPECT_FALSE(Visible()) << c.name;
    FinishedDownload finished;
    ASSERT_TRUE(job_->TakeFinished(&finished)) << c.name;
    EXPECT_EQ(finished.request.path, c.taken_over ? first : user) << c.name;
    EXPECT_EQ(finished.request.url, c.user_url) << c.name;
    EXPECT_TRUE(finished.request.report) << c.name;
    EXPECT_EQ(FileExists(user), !c.taken_over) << c.name;
    // A cancelled download never reports nor writes.
    PumpFor(1000);
    EXPECT_EQ(recorder_.ends.size(), 1u) << c.name;
    EXPECT_EQ(FileExists(first), c.taken_over) << c.name;
    EXPECT_FALSE(FileExists(folder.File("other.txt"))) << c.name;
  }
}

// Escape and the caption's close box while a list trickles in: the download
// stops, the window goes, nothing is reported and nothing written; the next
// start runs at once.
TEST_F(DownloadProgressDialogTest, EscapeAndTheCloseBoxCancelSilently) {
  REQUIRE_TEST_PORTS("TRICKLE", "WEB");
  struct Case {
    const char* name;
    UINT msg;
    WPARAM wparam;
  };
  const Case cases[] = {
      {"escape", WM_COMMAND, IDCANCEL},
      {"close box", WM_CLOSE, 0},
  };
  for (const Case& c : cases) {
    ScratchFolder folder("progress-cancel");
    const std::string path = folder.File("Download.txt");
    recorder_.ends.clear();
    ASSERT_TRUE(dialog_->StartVisible(TestUrl("TRICKLE", "/endless"), path)) << c.name;
    ASSERT_TRUE(PumpUntil([&] { return Label() != "正在连接服务器..."; })) << c.name;
    SendMessageW(dialog_->hwnd(), c.msg, c.wparam, 0);
    EXPECT_FALSE(Visible()) << c.name;
    EXPECT_FALSE(job_->busy()) << c.name;
    PumpFor(1500);
    EXPECT_TRUE(recorder_.ends.empty()) << c.name;
    EXPECT_EQ(folder.Count(), 0u) << c.name;
  }
  ASSERT_TRUE(dialog_->StartVisible(TestUrl("WEB", "/dl/list.txt"), folder_.File("Download.txt")));
  ASSERT_TRUE(PumpUntil([&] { return !recorder_.ends.empty(); }));
  EXPECT_EQ(recorder_.ends[0].result, WPARAM(core::kDownloadOk));
}

}  // namespace
}  // namespace win
