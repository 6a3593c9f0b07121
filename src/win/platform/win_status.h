// WinStatus: the outcome of a platform call that can be refused: success, or
// the Windows error code with what was being done ("writing ProxyServer"). The
// platform layer returns it; the caller composes the user's text from it.
// A plain value; any thread.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

namespace win {

class [[nodiscard]] WinStatus {
 public:
  WinStatus() = default;  // success
  static WinStatus Ok() { return WinStatus(); }
  // `code` is a Windows error (GetLastError, or what a Reg* call returned);
  // ERROR_SUCCESS is taken as ERROR_GEN_FAILURE, since a failure without a
  // code is still a failure.
  static WinStatus Error(DWORD code, std::string context) {
    return WinStatus(code == ERROR_SUCCESS ? ERROR_GEN_FAILURE : code, std::move(context));
  }

  bool ok() const { return code_ == ERROR_SUCCESS; }
  // Leaves a status unread on purpose; the caller says why beside it.
  void Ignore() const {}
  explicit operator bool() const { return ok(); }
  DWORD code() const { return code_; }
  const std::string& context() const { return context_; }
  // "writing ProxyServer: Access is denied. (5)"; empty when ok.
  std::string ToString() const;

 private:
  WinStatus(DWORD code, std::string context) : code_(code), context_(std::move(context)) {}

  DWORD code_ = ERROR_SUCCESS;
  std::string context_;
};

}  // namespace win
