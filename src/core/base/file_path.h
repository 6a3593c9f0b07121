// File names inside the program are UTF-8 texts; these turn them into
// std::filesystem paths and back, so that Chinese folder names work on every
// system. Pure functions; any thread.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace core {

std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string PathToUtf8(const std::filesystem::path& path);

}  // namespace core
