#include "win/platform/unique_handle.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace win {
namespace {

// Fake handles are small integers; every close is recorded.
std::vector<int> g_closed;

struct FakeTraits {
  using Handle = int;
  static Handle Invalid() { return -1; }
  static void Close(Handle h) { g_closed.push_back(h); }
};
using FakeHandle = UniqueHandle<FakeTraits>;

class UniqueHandleTest : public testing::Test {
 protected:
  void SetUp() override { g_closed.clear(); }
};

TEST_F(UniqueHandleTest, ClosesOnceWhenItGoesOutOfScope) {
  {
    FakeHandle h(5);
    EXPECT_TRUE(h.valid());
  }
  EXPECT_EQ(g_closed, std::vector<int>{5});
}

TEST_F(UniqueHandleTest, EmptyHandleClosesNothing) {
  {
    FakeHandle h;
    EXPECT_FALSE(h);
    EXPECT_EQ(h.get(), -1);
  }
  EXPECT_TRUE(g_closed.empty());
}

TEST_F(UniqueHandleTest, ReleaseGivesUpOwnership) {
  {
    FakeHandle h(5);
    EXPECT_EQ(h.release(), 5);
    EXPECT_FALSE(h.valid());
  }
  EXPECT_TRUE(g_closed.empty());
}

TEST_F(UniqueHandleTest, MoveTransfersOwnership) {
  {
    FakeHandle a(5);
    FakeHandle b(std::move(a));
    EXPECT_FALSE(a.valid());
    EXPECT_EQ(b.get(), 5);
  }
  EXPECT_EQ(g_closed, std::vector<int>{5});
}

TEST_F(UniqueHandleTest, MoveAssignmentClosesTheOverwrittenHandle) {
  {
    FakeHandle a(5), b(6);
    b = std::move(a);
    EXPECT_EQ(g_closed, std::vector<int>{6});
    EXPECT_EQ(b.get(), 5);
  }
  EXPECT_EQ(g_closed, (std::vector<int>{6, 5}));
}

TEST_F(UniqueHandleTest, SelfMoveAssignmentKeepsTheHandle) {
  FakeHandle a(5);
  FakeHandle& alias = a;
  a = std::move(alias);
  EXPECT_EQ(a.get(), 5);
  EXPECT_TRUE(g_closed.empty());
}

TEST_F(UniqueHandleTest, ResetClosesTheOldHandleButNotTheSameOne) {
  FakeHandle h(5);
  h.reset(5);
  EXPECT_TRUE(g_closed.empty());
  h.reset(7);
  EXPECT_EQ(g_closed, std::vector<int>{5});
  h.reset();
  EXPECT_EQ(g_closed, (std::vector<int>{5, 7}));
  EXPECT_FALSE(h.valid());
}

TEST(UniqueKernelHandleTest, ResetReallyClosesTheHandle) {
  UniqueKernelHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(event.valid());
  HANDLE raw = event.get();
  DWORD flags = 0;
  EXPECT_TRUE(GetHandleInformation(raw, &flags));
  event.reset();
  EXPECT_FALSE(GetHandleInformation(raw, &flags));
}

TEST(UniqueFileHandleTest, FailedOpenIsNotValid) {
  UniqueFileHandle file(CreateFileW(L"Z:\\relaymoth-no-such-dir\\x\\y.txt", GENERIC_READ, 0,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(file.valid());
  EXPECT_EQ(file.get(), INVALID_HANDLE_VALUE);
}

TEST(UniqueFileHandleTest, ClosingADeleteOnCloseFileRemovesIt) {
  std::filesystem::path path =
      std::filesystem::temp_directory_path() /
      ("relaymoth-unique-handle-" + std::to_string(GetCurrentProcessId()) + ".tmp");
  UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  ASSERT_TRUE(file.valid()) << "error " << GetLastError() << " creating " << path.string();
  EXPECT_TRUE(std::filesystem::exists(path));
  file.reset();
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace win
