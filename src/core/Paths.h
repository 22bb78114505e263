#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace Paths {

// The user's home directory: $HOME when it is set and not empty, else the password database entry.
std::filesystem::path homeDir();

// Expands a leading "~" (alone or followed by "/") to `home`; any other text is returned unchanged.
std::filesystem::path expandTilde(std::string_view path, const std::filesystem::path& home);
inline std::filesystem::path expandTilde(std::string_view path) {
    return expandTilde(path, homeDir());
}

} // namespace Paths
