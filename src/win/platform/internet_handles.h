// The WinInet handles of one fetch or download: a list that one worker thread
// opens and closes handles through, and that Abort (any thread) empties,
// closing whatever is open and refusing new ones. A handle is closed exactly
// once, by whichever side takes it out of the list first, and never while the
// lock is held, so Abort never waits for a WinInet call. InternetHandle owns
// one handle through such a list; UniqueInternet owns one that no other thread
// aborts.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "win/platform/unique_handle.h"

namespace win {

// For UniqueInternet. Declare a request after its connection after its
// session: it is then closed first.
struct InternetTraits {
  using Handle = HINTERNET;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { InternetCloseHandle(h); }
};
using UniqueInternet = UniqueHandle<InternetTraits>;

class InternetHandleList {
 public:
  InternetHandleList() = default;
  InternetHandleList(const InternetHandleList&) = delete;
  InternetHandleList& operator=(const InternetHandleList&) = delete;
  // Closes what is still open, children (opened later) first.
  ~InternetHandleList();

  // Takes ownership of `h`. False (and `h` is closed) after Abort.
  bool Adopt(HINTERNET h);
  // Closes `h` unless Abort did already.
  void Close(HINTERNET h);
  // Closes every open handle, children first (a session closed before its
  // request would take the request's handle value with it), and refuses new ones.
  void Abort();
  bool aborted();

 private:
  std::mutex mutex_;
  bool aborted_ = false;
  std::vector<HINTERNET> open_;
};

// One HINTERNET owned through a handle list; movable.
class InternetHandle {
 public:
  InternetHandle() = default;
  InternetHandle(std::shared_ptr<InternetHandleList> handles, HINTERNET h)
      : handles_(std::move(handles)) {
    if (handles_->Adopt(h)) handle_ = h;
  }
  InternetHandle(InternetHandle&& other) noexcept
      : handles_(std::move(other.handles_)), handle_(std::exchange(other.handle_, nullptr)) {}
  InternetHandle& operator=(InternetHandle&& other) noexcept {
    if (this != &other) {
      reset();
      handles_ = std::move(other.handles_);
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  ~InternetHandle() { reset(); }

  HINTERNET get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  void reset() {
    if (handle_ != nullptr) handles_->Close(std::exchange(handle_, nullptr));
  }

 private:
  std::shared_ptr<InternetHandleList> handles_;
  HINTERNET handle_ = nullptr;
};

}  // namespace win
