#pragma once

#include "base/Services.h"
#include "claude/CredentialsProvider.h"
#include "config/AppConfig.h"
#include "statusline/StatusLineStore.h"
#include "usage/UsageWindow.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// How one profile is read — the one place that decides between Codex's session logs, claude's
// status-line readings and the usage endpoint, for the running store, the one-shot readings of
// `ulmet --json` and `ulmet --check`. Blocking (files, secret store, HTTP): off the main thread.
namespace ProfileReader {

enum class Way { codexLog, statusLine, endpoint };
Way wayOf(const ProfileConfig& profile);

// The status-line reading filed for the profile's directory when it may stand for this profile:
// a reading names the account that was logged in when claude gave it and serves that account's
// profile only; one that names none serves only a profile read from the status line (as does any
// reading, for such a profile without a known address).
std::optional<StatusLineReading> statusLineReading(const std::filesystem::path& baseDir,
                                                   const ProfileConfig& profile,
                                                   const std::filesystem::path& home);

// An endpoint profile's credentials, from wherever the caller keeps them. `claudes`: they are
// claude's live login, which only claude renews (their access token may have expired). The
// source may throw ResolveError::claudeRenews for the same case, or any credential error.
struct Token {
    OAuthCredentials credentials;
    bool claudes = false;
};
using TokenSource = std::function<Token(const ProfileConfig&)>;

struct Request {
    std::filesystem::path baseDir; // the configuration directory (status-line readings)
    TokenSource token;             // for endpoint profiles
    bool includeEmail = false;     // also ask the endpoint for the account's address
    // An endpoint profile's status-line reading younger than this stands in for a request.
    std::chrono::seconds statusLineFreshFor{0};
    // The profile's last windows: those a status-line reading does not carry stay.
    std::vector<UsageWindow> previous;
};

struct Outcome {
    ProfileStatus status = ProfileStatus::error("");
    UsageSource source = UsageSource::api; // where the reading came from (api for Codex's logs)
    std::optional<std::string> email;
    bool rateLimited = false;
    std::optional<double> retryAfter; // seconds, from a rate-limited answer
    // Nothing could be read now for a reason that says nothing against the last reading (claude
    // renews this login itself): a reading shown before stays, with its age.
    bool keepsLast = false;
};

// One reading of one profile. Never throws: every failure is the outcome's error status.
Outcome read(const Services& services, const ProfileConfig& profile, const Request& request);

} // namespace ProfileReader
