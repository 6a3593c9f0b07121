// Winsock's header must come before windows.h: the socket wrapper goes first.
#include "win/platform/unique_handle.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "win/platform/unique_socket.h"

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

TEST(UniqueSocketTest, AMovedSocketStaysOpenUntilItsLastOwnerGoes) {
  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  const SOCKET raw = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  ASSERT_NE(raw, INVALID_SOCKET);
  auto is_open = [raw] {
    int type = 0;
    int size = sizeof(type);
    return getsockopt(raw, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &size) == 0;
  };
  UniqueSocket kept;
  {
    UniqueSocket made(raw);
    kept = std::move(made);
  }
  EXPECT_TRUE(is_open()) << "closed by the wrapper it was moved out of";
  kept.reset();
  EXPECT_FALSE(is_open());
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
  WSACleanup();
}

TEST(ScopedGdiTest, SelectionsAreUndoneInReverseAndTheMemoryDcIsDeleted) {
  UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
  ASSERT_TRUE(dc.valid());
  const HGDIOBJ first_pen = GetCurrentObject(dc.get(), OBJ_PEN);
  UniquePen red(CreatePen(PS_SOLID, 1, RGB(255, 0, 0)));
  UniquePen blue(CreatePen(PS_SOLID, 1, RGB(0, 0, 255)));
  {
    SelectedObject outer(dc.get(), red.get());
    {
      SelectedObject inner(dc.get(), blue.get());
      EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_PEN), blue.get());
    }
    EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_PEN), red.get());
  }
  EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_PEN), first_pen);
  const HDC raw = dc.get();
  EXPECT_EQ(GetObjectType(raw), DWORD(OBJ_MEMDC));
  dc.reset();
  EXPECT_EQ(GetObjectType(raw), 0u) << "still a DC";
}

// OLE is per thread: each case runs on a thread of its own.
TEST(OleScopeTest, NestedScopesAreBalancedAndAFailureIsReported) {
  bool nested_ok = false;
  HRESULT after_nested = E_FAIL;
  std::thread([&] {
    {
      OleScope outer;
      OleScope inner;  // S_FALSE: on already
      nested_ok = outer.ok() && inner.ok();
    }
    // COM is off again only if both were undone: a multithreaded start is then
    // a first start, not a change of the thread's model.
    after_nested = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(after_nested)) CoUninitialize();
  }).join();
  EXPECT_TRUE(nested_ok);
  EXPECT_EQ(after_nested, S_OK);

  bool multithreaded_ok = true;
  std::thread([&] {
    const HRESULT own = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    multithreaded_ok = OleScope().ok();  // OLE needs a single-threaded apartment
    if (SUCCEEDED(own)) CoUninitialize();
  }).join();
  EXPECT_FALSE(multithreaded_ok);
}

}  // namespace
}  // namespace win
