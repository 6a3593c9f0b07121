// AppWindowTest: builds a real FloatingWindow (and so the real main dialog) on a
// memory profile, a scripted prompt and a registry key of its own for the system
// proxy, so window tests never touch the program's profile or the machine's proxy.
#pragma once

#include <gtest/gtest.h>
#include <ole2.h>
#include <windows.h>

#include <memory>
#include <string>

#include "core/proxylist/profile_store.h"
#include "win/app/floating_window.h"
#include "win/platform/registry.h"
#include "win/testing/scripted_prompt.h"

namespace win {

class AppWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    ole_ = SUCCEEDED(OleInitialize(nullptr));
    proxy_key_ = "Software\\Quillworks\\RelaymothTest\\Proxy_" +
                 std::string(testing::UnitTest::GetInstance()->current_test_info()->name());
    DeleteRegistryTree(HKEY_CURRENT_USER, proxy_key_);
  }
  void TearDown() override {
    window_.reset();
    DeleteRegistryTree(HKEY_CURRENT_USER, proxy_key_);
    if (ole_) OleUninitialize();
  }

  FloatingWindowEnv Env() {
    FloatingWindowEnv env;
    env.instance = GetModuleHandleW(nullptr);
    env.profile = &profile_;
    env.prompt = &prompt_;
    env.proxy_place.key = proxy_key_;
    env.proxy_place.tell_wininet = false;
    env.quit_on_destroy = false;
    env.end_process = [this](int code) { exit_codes_.push_back(code); };
    env.verify = verify_env_;
    return env;
  }

  // Creates the window; the system proxy read back at start comes from these values.
  FloatingWindow& Start(const std::string& proxy_server = "", uint32_t enable = 0) {
    if (!proxy_server.empty() || enable != 0) {
      WriteRegistryString(HKEY_CURRENT_USER, proxy_key_, "ProxyServer", proxy_server);
      WriteRegistryDword(HKEY_CURRENT_USER, proxy_key_, "ProxyEnable", enable);
    }
    window_ = std::make_unique<FloatingWindow>(Env());
    EXPECT_TRUE(window_->Create()) << GetLastError();
    return *window_;
  }

  std::string ProxyValue(const char* name) const {
    return ReadRegistryText(HKEY_CURRENT_USER, proxy_key_, name);
  }

  // Handles whatever is queued (posted messages, a pending drop).
  static void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }

  bool ole_ = false;
  std::string proxy_key_;
  core::MemoryProfileStore profile_;
  ScriptedPrompt prompt_;
  // The main dialog's verification; the default is the real worker threads.
  VerifyEnv verify_env_;
  std::vector<int> exit_codes_;
  std::unique_ptr<FloatingWindow> window_;
};

}  // namespace win
