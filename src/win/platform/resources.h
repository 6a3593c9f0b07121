// Access to the program's own resources (string table). Any thread.
#pragma once

#include <windows.h>

#include <string>

namespace win {

// The string resource `id` of `module`; empty when there is no such string.
std::wstring LoadResourceString(HINSTANCE module, UINT id);

}  // namespace win
