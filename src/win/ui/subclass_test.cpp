#include "win/ui/subclass.h"

#include <gtest/gtest.h>

#include <string>

namespace win {
namespace {

constexpr UINT kPing = WM_APP + 3;
constexpr WPARAM kNestedPing = 1;  // the procedure sends a second ping from inside
constexpr DWORD_PTR kRemoveSelf = 100;

std::string& Log() {
  static std::string log;
  return log;
}

LRESULT CALLBACK OwnProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == kPing) {
    Log() += "own ";
    return 7;
  }
  return DefWindowProcW(hwnd, msg, wparam, lparam);
}

LRESULT CALLBACK First(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, UINT_PTR, DWORD_PTR ref) {
  if (msg == kPing) Log() += "first" + std::to_string(ref) + " ";
  if (msg == WM_NCDESTROY) Log() += "first-ncdestroy ";
  return CallNextSubclass(hwnd, msg, wparam, lparam);
}

LRESULT CALLBACK Second(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                        DWORD_PTR ref) {
  if (msg == kPing) {
    Log() += "second ";
    if (ref == kRemoveSelf) RemoveSubclass(hwnd, &Second, id);
    if (wparam == kNestedPing) {
      Log() += "[ ";
      SendMessageW(hwnd, kPing, 0, 0);
      Log() += "] ";
    }
  }
  return CallNextSubclass(hwnd, msg, wparam, lparam);
}

class SubclassTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = &OwnProc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"RelaymothSubclassTest";
    RegisterClassW(&window_class);
    hwnd_ = CreateWindowExW(0, L"RelaymothSubclassTest", L"", 0, 0, 0, 10, 10, HWND_MESSAGE,
                            nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(hwnd_, nullptr);
    Log().clear();
  }
  void TearDown() override {
    if (IsWindow(hwnd_)) DestroyWindow(hwnd_);
  }
  std::string Ping(WPARAM wparam = 0) {
    Log().clear();
    result_ = SendMessageW(hwnd_, kPing, wparam, 0);
    return Log();
  }
  WNDPROC CurrentProc() const { return reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd_, GWLP_WNDPROC)); }

  HWND hwnd_ = nullptr;
  LRESULT result_ = 0;
};

TEST_F(SubclassTest, NewestFirstThenTheWindowsOwnProcedure) {
  ASSERT_TRUE(AddSubclass(hwnd_, &First, 1, 1));
  ASSERT_TRUE(AddSubclass(hwnd_, &Second, 1, 0));
  EXPECT_EQ(Ping(), "second first1 own ");
  EXPECT_EQ(result_, 7);
  // The same procedure and id again only replaces the reference data.
  ASSERT_TRUE(AddSubclass(hwnd_, &First, 1, 5));
  EXPECT_EQ(Ping(), "second first5 own ");
  DWORD_PTR ref = 0;
  EXPECT_TRUE(FindSubclass(hwnd_, &First, 1, &ref));
  EXPECT_EQ(ref, 5u);
  EXPECT_FALSE(FindSubclass(hwnd_, &First, 2, &ref));

  // A message sent from inside a procedure starts again from the newest.
  EXPECT_EQ(Ping(kNestedPing), "second [ second first5 own ] first5 own ");

  ASSERT_TRUE(RemoveSubclass(hwnd_, &Second, 1));
  EXPECT_FALSE(RemoveSubclass(hwnd_, &Second, 1));
  EXPECT_EQ(Ping(), "first5 own ");
  // Without procedures the window gets its own back.
  ASSERT_TRUE(RemoveSubclass(hwnd_, &First, 1));
  EXPECT_EQ(CurrentProc(), &OwnProc);
  EXPECT_EQ(Ping(), "own ");
}

TEST_F(SubclassTest, AProcedureRemovesItselfWhileHandlingAMessage) {
  ASSERT_TRUE(AddSubclass(hwnd_, &First, 1, 1));
  ASSERT_TRUE(AddSubclass(hwnd_, &Second, 1, kRemoveSelf));
  // The nested ping no longer reaches the removed procedure; the message in
  // hand still goes on down the chain.
  EXPECT_EQ(Ping(kNestedPing), "second [ first1 own ] first1 own ");
  EXPECT_EQ(Ping(), "first1 own ");
  EXPECT_FALSE(FindSubclass(hwnd_, &Second, 1, nullptr));
}

TEST_F(SubclassTest, DestroyingTheWindowDropsItsChain) {
  ASSERT_TRUE(AddSubclass(hwnd_, &First, 1, 1));
  Log().clear();
  ASSERT_TRUE(DestroyWindow(hwnd_));
  EXPECT_EQ(Log(), "first-ncdestroy ");
  EXPECT_FALSE(FindSubclass(hwnd_, &First, 1, nullptr));
  EXPECT_FALSE(AddSubclass(hwnd_, &First, 1, 1));
}

}  // namespace
}  // namespace win
