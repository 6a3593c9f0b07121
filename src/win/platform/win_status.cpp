#include "win/platform/win_status.h"

#include "win/platform/wide_text.h"

namespace win {

std::string WinStatus::ToString() const {
  if (ok()) return {};
  wchar_t* text = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code_, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = length > 0 && text != nullptr ? std::wstring(text, length) : L"";
  if (text != nullptr) LocalFree(text);
  // The system's texts end in a line break.
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L' ')) {
    message.pop_back();
  }
  std::string out = context_.empty() ? std::string() : context_ + ": ";
  if (!message.empty()) out += WideToUtf8(message) + " ";
  return out + "(" + std::to_string(code_) + ")";
}

}  // namespace win
