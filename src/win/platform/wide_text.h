// Conversions between the program's UTF-8 texts and the UTF-16 the W functions
// take, and the program's own folder. Any thread.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace win {

// Malformed UTF-8 becomes U+FFFD; an empty input gives an empty output.
std::wstring Utf8ToWide(std::string_view utf8);
// Bytes in a Windows code page (CP_ACP: the system's ANSI code page) as UTF-16;
// empty when the code page cannot convert them.
std::wstring CodePageToWide(std::string_view bytes, UINT code_page);
// Unpaired surrogates become U+FFFD.
std::string WideToUtf8(std::wstring_view wide);

// The folder of the running program file, ending in a backslash.
std::wstring GetModuleFolder();

}  // namespace win
