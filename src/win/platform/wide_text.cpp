#include "win/platform/wide_text.h"

#include <climits>

namespace win {

std::wstring CodePageToWide(std::string_view bytes, UINT code_page) {
  if (bytes.empty() || bytes.size() > size_t(INT_MAX)) return {};
  int n = MultiByteToWideChar(code_page, 0, bytes.data(), int(bytes.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(size_t(n), L'\0');
  MultiByteToWideChar(code_page, 0, bytes.data(), int(bytes.size()), out.data(), n);
  return out;
}

std::wstring Utf8ToWide(std::string_view utf8) { return CodePageToWide(utf8, CP_UTF8); }

std::string WideToUtf8(std::wstring_view wide) {
  if (wide.empty() || wide.size() > size_t(INT_MAX)) return {};
  int n =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(size_t(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring GetModuleFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
    if (n == 0) return L".\\";
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    // Truncated: a path in a deep folder (\\?\ form allows 32 767 characters).
    if (path.size() >= 65536) return L".\\";
    path.resize(path.size() * 2);
  }
  size_t slash = path.find_last_of(L"\\/");
  path.resize(slash == std::wstring::npos ? 0 : slash + 1);
  if (path.empty()) path = L".\\";
  return path;
}

}  // namespace win
