#include "base/Paths.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace Paths {

std::filesystem::path homeDir() {
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* result = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result && result->pw_dir)
        return result->pw_dir;
    return "/";
}

std::string loginName() {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* result = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result && result->pw_name)
        return result->pw_name;
    if (const char* user = std::getenv("USER"); user && *user)
        return user;
    return "user";
}

std::filesystem::path expandTilde(std::string_view path, const std::filesystem::path& home) {
    if (path == "~")
        return home;
    if (path.starts_with("~/"))
        return home / std::filesystem::path(path.substr(2));
    return std::filesystem::path(path);
}

} // namespace Paths
