#include "win/platform/internet_handles.h"

#include <algorithm>

namespace win {

InternetHandleList::~InternetHandleList() {
  for (auto it = open_.rbegin(); it != open_.rend(); ++it) InternetCloseHandle(*it);
}

bool InternetHandleList::Adopt(HINTERNET h) {
  if (h == nullptr) return false;
  {
    std::lock_guard lock(mutex_);
    if (!aborted_) {
      open_.push_back(h);
      return true;
    }
  }
  InternetCloseHandle(h);
  return false;
}

void InternetHandleList::Close(HINTERNET h) {
  if (h == nullptr) return;
  {
    std::lock_guard lock(mutex_);
    auto it = std::find(open_.begin(), open_.end(), h);
    if (it == open_.end()) return;  // Abort closed it already
    open_.erase(it);
  }
  InternetCloseHandle(h);
}

void InternetHandleList::Abort() {
  std::vector<HINTERNET> closing;
  {
    std::lock_guard lock(mutex_);
    aborted_ = true;
    closing.swap(open_);
  }
  for (auto it = closing.rbegin(); it != closing.rend(); ++it) InternetCloseHandle(*it);
}

bool InternetHandleList::aborted() {
  std::lock_guard lock(mutex_);
  return aborted_;
}

}  // namespace win
