#pragma once

#include "base/Errors.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The live login's identity in claude's state file ~/.claude.json: the top-level members
// "oauthAccount" and "userID". The file belongs to claude and can be hundreds of megabytes:
// reads stream through it without building the document.
namespace ClaudeAppState {

// A failure of writeIdentity with a fixed description (code 1: "identity が不正です",
// code 2: "~/.claude.json を解析できません", code 3: the file is not JSON).
class StateError : public Error {
public:
    StateError(int code, const std::string& description)
        : Error(description)
        , m_code(code) {}
    int code() const { return m_code; }

private:
    int m_code;
};

std::filesystem::path stateFile(const std::filesystem::path& home);  // ~/.claude.json
std::filesystem::path backupFile(const std::filesystem::path& home); // ~/.claude.json.meterkeeper-bak

// The identity blob: a compact JSON object with the state file's "oauthAccount" and/or "userID"
// members; none when the file is missing, unreadable, not a JSON object or has neither.
std::optional<std::string> readIdentity(const std::filesystem::path& home);

// "oauthAccount" → "emailAddress" exactly as stored; none in every other case.
std::optional<std::string> readEmail(const std::filesystem::path& home);

// The account an identity blob belongs to: its "oauthAccount" → "emailAddress"; none when the
// blob is not a JSON object or names no address.
std::optional<std::string> identityEmail(std::string_view identity);

// Writes the identity's members into the state file, every other member kept with its value; the
// file is rewritten pretty-printed with sorted keys and keeps its permission bits. The previous
// bytes are saved first as the backup file. Throws StateError or FileError; on failure the state
// file is as it was. When claude rewrites the file meanwhile the write starts again on its new
// content (a few times at most); `afterRead`, for tests, runs between the read and that check.
void writeIdentity(const std::filesystem::path& home, std::string_view identity,
                   const std::function<void()>& afterRead = {});

} // namespace ClaudeAppState
