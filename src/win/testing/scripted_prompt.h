// ScriptedPrompt: a Prompt for window tests. Message boxes are answered from a
// queue (IDOK/IDYES when it runs dry) and recorded; file choosers hand out the
// paths a test sets; opened pages are recorded, never opened.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "win/app/prompt.h"

namespace win {

class ScriptedPrompt final : public Prompt {
 public:
  struct Shown {
    std::string text;
    std::string caption;
    UINT type;
    HWND owner;
  };

  int Ask(HWND owner, std::string_view text, std::string_view caption, UINT type) override {
    shown.push_back({std::string(text), std::string(caption), type, owner});
    if (!answers.empty()) {
      int a = answers.front();
      answers.pop_front();
      return a;
    }
    UINT buttons = type & MB_TYPEMASK;
    return buttons == MB_OK ? IDOK : IDYES;
  }
  bool ChooseFileToOpen(HWND, std::string* path) override {
    if (open_path.empty()) return false;
    *path = open_path;
    return true;
  }
  bool ChooseFileToSave(HWND, std::string* path) override {
    if (save_path.empty()) return false;
    *path = save_path;
    return true;
  }
  void OpenPage(HWND, std::string_view url) override { pages.emplace_back(url); }

  std::deque<int> answers;
  std::vector<Shown> shown;
  std::vector<std::string> pages;
  std::string open_path;
  std::string save_path;
};

}  // namespace win
