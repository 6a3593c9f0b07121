#include "win/ui/window_base.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace win {
namespace {

constexpr UINT kPing = WM_APP + 1;

// Records every message it receives into a log that outlives it.
class ProbeWindow : public WindowBase {
 public:
  explicit ProbeWindow(std::vector<UINT>* log) : log_(log) {}

  bool CreateHidden() {
    WindowClassInfo window_class;
    window_class.name = L"RelaymothProbeWindow";
    WindowPlacement placement;
    placement.style = WS_OVERLAPPEDWINDOW;  // not WS_VISIBLE: nothing is shown
    placement.width = 200;
    placement.height = 100;
    return Create(GetModuleHandleW(nullptr), window_class, L"probe", placement);
  }

  bool refuse_create = false;
  HWND hwnd_seen_in_nccreate = nullptr;
  HWND hwnd_seen_in_create = nullptr;

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam) override {
    log_->push_back(msg);
    if (msg == WM_NCCREATE) hwnd_seen_in_nccreate = hwnd();
    if (msg == WM_CREATE) {
      hwnd_seen_in_create = hwnd();
      if (refuse_create) return -1;
    }
    return DefaultHandle(msg, wparam, lparam);
  }

 private:
  std::vector<UINT>* log_;
};

bool Saw(const std::vector<UINT>& log, UINT msg) {
  return std::find(log.begin(), log.end(), msg) != log.end();
}

TEST(WindowBaseTest, CreateBindsTheObjectBeforeTheFirstRoutedMessage) {
  std::vector<UINT> log;
  ProbeWindow probe(&log);
  ASSERT_TRUE(probe.CreateHidden()) << "error " << GetLastError();
  ASSERT_NE(probe.hwnd(), nullptr);
  EXPECT_TRUE(IsWindow(probe.hwnd()));
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front(), static_cast<UINT>(WM_NCCREATE));
  EXPECT_EQ(probe.hwnd_seen_in_nccreate, probe.hwnd());
  EXPECT_EQ(probe.hwnd_seen_in_create, probe.hwnd());
  EXPECT_EQ(WindowBase::FromHandle(probe.hwnd()), &probe);
}

TEST(WindowBaseTest, SentMessagesReachHandleMessage) {
  std::vector<UINT> log;
  ProbeWindow probe(&log);
  ASSERT_TRUE(probe.CreateHidden());
  SendMessageW(probe.hwnd(), kPing, 0, 0);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), kPing);
}

TEST(WindowBaseTest, TwoWindowsOfOneClassReachTheirOwnObjects) {
  std::vector<UINT> log_a, log_b;
  ProbeWindow a(&log_a), b(&log_b);
  ASSERT_TRUE(a.CreateHidden());
  ASSERT_TRUE(b.CreateHidden());  // the class is already registered by now
  ASSERT_NE(a.hwnd(), b.hwnd());
  SendMessageW(b.hwnd(), kPing, 0, 0);
  EXPECT_TRUE(Saw(log_b, kPing));
  EXPECT_FALSE(Saw(log_a, kPing));
  EXPECT_EQ(WindowBase::FromHandle(a.hwnd()), &a);
  EXPECT_EQ(WindowBase::FromHandle(b.hwnd()), &b);
}

TEST(WindowBaseTest, DestroyWindowForgetsTheHandle) {
  std::vector<UINT> log;
  ProbeWindow probe(&log);
  ASSERT_TRUE(probe.CreateHidden());
  HWND hwnd = probe.hwnd();
  ASSERT_TRUE(DestroyWindow(hwnd));
  EXPECT_EQ(probe.hwnd(), nullptr);
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_TRUE(Saw(log, WM_DESTROY));
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), static_cast<UINT>(WM_NCDESTROY));
  EXPECT_EQ(WindowBase::FromHandle(hwnd), nullptr);
}

TEST(WindowBaseTest, DestructorDestroysTheWindowWithoutCallingTheDerivedClass) {
  std::vector<UINT> log;
  auto probe = std::make_unique<ProbeWindow>(&log);
  ASSERT_TRUE(probe->CreateHidden());
  HWND hwnd = probe->hwnd();
  log.clear();
  probe.reset();
  EXPECT_FALSE(IsWindow(hwnd));
  // The derived part is gone when the base destructor runs; routing WM_DESTROY
  // to it would be a call through a dead vtable.
  EXPECT_TRUE(log.empty()) << log.size() << " messages routed during destruction";
}

TEST(WindowBaseTest, RefusedCreateFailsAndLeavesNoHandle) {
  std::vector<UINT> log;
  ProbeWindow probe(&log);
  probe.refuse_create = true;
  EXPECT_FALSE(probe.CreateHidden());
  EXPECT_EQ(probe.hwnd(), nullptr);
  EXPECT_TRUE(Saw(log, WM_NCDESTROY));
}

TEST(WindowBaseTest, SecondCreateOnALiveWindowFails) {
  std::vector<UINT> log;
  ProbeWindow probe(&log);
  ASSERT_TRUE(probe.CreateHidden());
  HWND first = probe.hwnd();
  EXPECT_FALSE(probe.CreateHidden());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(probe.hwnd(), first);
  EXPECT_TRUE(IsWindow(first));
}

TEST(WindowBaseTest, FromHandleIgnoresWindowsOfOtherClasses) {
  HWND other = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(other, nullptr);
  // Some other code's use of GWLP_USERDATA must not look like one of ours.
  SetWindowLongPtrW(other, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&other));
  EXPECT_EQ(WindowBase::FromHandle(other), nullptr);
  EXPECT_EQ(WindowBase::FromHandle(nullptr), nullptr);
  DestroyWindow(other);
}

}  // namespace
}  // namespace win
