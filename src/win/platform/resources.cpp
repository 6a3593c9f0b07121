#include "win/platform/resources.h"

namespace win {

std::wstring LoadResourceString(HINSTANCE module, UINT id) {
  // With a zero buffer size LoadStringW hands out a read-only pointer into the
  // resource itself (not terminated) and the length, so no size guess is needed.
  const wchar_t* text = nullptr;
  int length = LoadStringW(module, id, reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || text == nullptr) return {};
  return std::wstring(text, static_cast<size_t>(length));
}

}  // namespace win
