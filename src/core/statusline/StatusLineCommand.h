#pragma once

#include "base/DateTime.h"
#include "usage/UsageWindow.h"

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// `ulmet --statusline`: the command claude runs to draw its status line, and
// `ulmet --statusline-install DIR`, which sets it up in a configuration directory.
namespace StatusLineCommand {

inline constexpr std::size_t kMaxInput = std::size_t(1) << 20;
inline constexpr std::chrono::milliseconds kInputTimeout{1000};

// Reads `fd` to its end, at most `maxBytes` (more makes the result none) and for at most
// `timeout` altogether (a writer that stays silent makes the result none).
std::optional<std::string> readInput(int fd, std::size_t maxBytes, std::chrono::milliseconds timeout);

// "5時間 37% 残2h · 週·全 26% 残4日": each window's compact label, percentage and time left.
std::string line(const std::vector<UsageWindow>& windows, Instant now);

struct Environment {
    std::filesystem::path baseDir; // the program's data directory
    std::filesystem::path home;
    const char* claudeConfigDir = nullptr; // CLAUDE_CONFIG_DIR
    Instant now;
};

// Reads claude's document from `inputFd`, records its reading for the directory it serves and
// prints the line (or, when the document cannot be read, the last recorded reading's line).
// Never fails claude's redraw: returns 0 whatever happens.
int run(int inputFd, std::ostream& out, const Environment& env);

// The command to put in settings.json for this executable: its path (shell-quoted when needed)
// followed by " --statusline".
std::string commandFor(const std::filesystem::path& executable);

// The statusLine entry of DIR/settings.json.
enum class InstallState { none, ours, other };
struct Installed {
    InstallState state = InstallState::none;
    std::string command; // the command there (empty when none or not a command)
};
// "Ours" is `ourCommand`, or a command that runs an executable named "ulmet" with --statusline.
Installed inspect(const std::filesystem::path& dir, std::string_view ourCommand = {});

// Adds {"type": "command", "command": `command`} as statusLine of DIR/settings.json when it has
// none (creating the file 0600 when missing); keeps every other member, their order, the file's
// mode and a symbolic link, and saves the old text as settings.json.meterkeeper-bak first.
// `changed` false with a message when an entry is there already or on failure (`failed`).
struct InstallResult {
    bool changed = false;
    bool failed = false;
    std::string message;
};
InstallResult install(const std::filesystem::path& dir, std::string_view command);

} // namespace StatusLineCommand
