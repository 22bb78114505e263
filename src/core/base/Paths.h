#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace Paths {

// The user's home directory: $HOME when it is set and not empty, else the password database entry.
std::filesystem::path homeDir();

// The current user's login name: the password database entry, else $USER, else "user".
std::string loginName();

// Expands a leading "~" (alone or followed by "/") to `home`; any other text is returned unchanged.
std::filesystem::path expandTilde(std::string_view path, const std::filesystem::path& home);

} // namespace Paths
