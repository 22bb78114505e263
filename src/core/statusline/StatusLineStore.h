#pragma once

#include "base/DateTime.h"
#include "usage/UsageWindow.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

// What claude last told its status-line command about one configuration directory's rate
// limits: no token involved.
struct StatusLineReading {
    std::string configDir; // normal form (StatusLineStore::normalDir)
    Instant at;            // when the reading was taken
    std::vector<UsageWindow> windows;
    // The account that was logged in when claude gave the reading (its address); none when it
    // could not be told, and then `accountUnknown` may say why.
    std::optional<std::string> account;
    std::optional<std::string> accountUnknown;
    // Which version of claude's state file told the account (stateStamp()): while it is the same,
    // the next reading takes the account from this one instead of reading the file again.
    std::string stateStamp = {};
    friend bool operator==(const StatusLineReading&, const StatusLineReading&) = default;
};

// The readings, one small file per configuration directory below <base>/statusline, and the
// reading of claude's status-line document.
namespace StatusLineStore {

// <base>/statusline
std::filesystem::path dir(const std::filesystem::path& baseDir);

// A configuration directory as readings are filed under it: "~" expanded, absolute, lexically
// normal, without a trailing slash, symbolic links resolved where it exists.
std::string normalDir(std::string_view path, const std::filesystem::path& home);

// What claude's status-line document says: the "five_hour" and "seven_day" windows of
// rate_limits whose used_percentage is a number in [0, 100] (anything else is skipped, never
// guessed), with resets_at (epoch seconds) when it is a plausible time; and transcript_path.
// None when the text is not a JSON object.
struct Input {
    std::vector<UsageWindow> windows;
    std::optional<std::string> transcriptPath;
};
std::optional<Input> parseInput(std::string_view text);

// The configuration directory a call serves: `envConfigDir` (CLAUDE_CONFIG_DIR) when set, else
// the directory that holds the transcript's "projects" folder, else ~/.claude. Normal form.
std::string configDirFor(const char* envConfigDir, const std::optional<std::string>& transcriptPath,
                         const std::filesystem::path& home);

// Which account is logged in to a configuration directory (normal form), as claude's state file
// names it: ~/.claude.json for ~/.claude, DIR/.claude.json for any other directory. A quick look
// that reads no token; a state file larger than kMaxStateFile is not read (`why` says so).
inline constexpr std::uintmax_t kMaxStateFile = std::uintmax_t(8) << 20;
std::optional<std::string> liveAccount(std::string_view normalDir, const std::filesystem::path& home,
                                       std::optional<std::string>& why);
// The state file's identity and version (inode, size, modification time); empty when there is none.
std::string stateStamp(std::string_view normalDir, const std::filesystem::path& home);

// Files the reading (0600, atomically, under a lock per directory); a stored reading taken
// later than this one is kept, unless it is dated more than a minute ahead of this one (written
// while the clock was wrong): a reading from the future is stale. False (with `error`) when it could not be
// written.
bool record(const std::filesystem::path& baseDir, const StatusLineReading& reading, std::error_code& error);

// The reading of a configuration directory (any form; normalised with `home`); none when there
// is none or it cannot be read.
std::optional<StatusLineReading> load(const std::filesystem::path& baseDir, std::string_view configDir,
                                      const std::filesystem::path& home);

// The windows as they stand at `now`: one whose reset time has passed has reset (0 %, next
// reset unknown).
std::vector<UsageWindow> windowsAt(const StatusLineReading& reading, Instant now);

// The status of a profile read from the status line before claude has given it a reading: what to
// do about it.
std::string noReadingMessage(std::string_view configDir);

// The file format, exposed for tests and the fuzzer.
std::string encode(const StatusLineReading& reading);
std::optional<StatusLineReading> decode(std::string_view text);

} // namespace StatusLineStore
