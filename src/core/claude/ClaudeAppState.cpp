#include "claude/ClaudeAppState.h"

#include "base/FileIO.h"
#include "base/Json.h"
#include "base/Language.h"
#include "base/Text.h"
#include "claude/JsonTopLevel.h"

#include <nlohmann/json.hpp>

#include <sys/stat.h>

namespace fs = std::filesystem;
using nlohmann::json;

namespace ClaudeAppState {
namespace {

const std::vector<std::string> kIdentityKeys{"oauthAccount", "userID"};
const std::vector<std::string> kAccountKey{"oauthAccount"};

// The state file is claude's; read it whatever its size.
constexpr std::size_t kMaxStateSize = std::size_t(4) << 30;
// The rewrite serialises recursively; far deeper than any real state file.
constexpr int kMaxWriteDepth = 2000;
constexpr int kAttempts = 3;

struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    mode_t mode = 0600;

    bool sameAs(const FileStamp& o) const {
        return device == o.device && inode == o.inode && size == o.size &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec;
    }
};

std::optional<FileStamp> stampOf(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return FileStamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim, static_cast<mode_t>(st.st_mode & 07777)};
}

} // namespace

fs::path stateFile(const fs::path& home) {
    return home / ".claude.json";
}
fs::path backupFile(const fs::path& home) {
    return home / ".claude.json.meterkeeper-bak";
}

std::optional<std::string> readIdentity(const fs::path& home) {
    const auto scanned = JsonTopLevel::scanFile(stateFile(home), kIdentityKeys);
    if (!scanned || !scanned->isObject || scanned->members.empty())
        return std::nullopt;
    json identity = json::object();
    for (const auto& [key, text] : scanned->members) {
        auto value = Json::parse(text, kMaxWriteDepth);
        if (!value)
            return std::nullopt;
        identity[key] = std::move(*value);
    }
    try {
        return identity.dump();
    } catch (const json::exception&) {
        return std::nullopt;
    }
}

namespace {

// "emailAddress" of an "oauthAccount" value.
std::optional<std::string> emailOfAccount(const nlohmann::json& account) {
    if (!account.is_object())
        return std::nullopt;
    const auto email = account.find("emailAddress");
    if (email == account.end() || !email->is_string())
        return std::nullopt;
    return email->get<std::string>();
}

} // namespace

std::optional<std::string> readEmail(const fs::path& home) {
    const auto scanned = JsonTopLevel::scanFile(stateFile(home), kAccountKey);
    if (!scanned || !scanned->isObject)
        return std::nullopt;
    const auto it = scanned->members.find("oauthAccount");
    if (it == scanned->members.end())
        return std::nullopt;
    const auto account = Json::parse(it->second, kMaxWriteDepth);
    return account ? emailOfAccount(*account) : std::nullopt;
}

std::optional<std::string> identityEmail(std::string_view identity) {
    const auto object = Json::parse(identity, kMaxWriteDepth);
    if (!object || !object->is_object())
        return std::nullopt;
    const auto account = object->find("oauthAccount");
    if (account == object->end())
        return std::nullopt;
    return emailOfAccount(*account);
}

void writeIdentity(const fs::path& home, std::string_view identityBytes,
                   const std::function<void()>& afterRead) {
    const auto identity = Json::parse(identityBytes);
    if (!identity || !identity->is_object())
        throw StateError(1, TR("identity が不正です"));

    const fs::path file = stateFile(home);
    const fs::path target = FileIO::linkTarget(file); // a link stays a link
    std::error_code error;

    for (int attempt = 1;; ++attempt) {
        const auto before = stampOf(target);
        auto bytes = FileIO::readFile(target, kMaxStateSize, error);
        if (!bytes)
            throw FileError(file, error);

        json state;
        if (bytes->find('\0') != std::string::npos) // nlohmann would stop there and drop the rest
            throw StateError(3, TR("~/.claude.json は JSON ではありません (NUL)"));
        try {
            // dump() recurses: refuse absurd nesting rather than overflow the stack.
            state = json::parse(*bytes, [](int depth, json::parse_event_t event, json&) {
                if ((event == json::parse_event_t::object_start ||
                     event == json::parse_event_t::array_start) &&
                    depth >= kMaxWriteDepth)
                    throw StateError(3, TR("~/.claude.json は JSON ではありません (入れ子が深すぎます)"));
                return true;
            });
        } catch (const json::parse_error& e) {
            // The parser's message quotes the text around the error; the file may hold secrets.
            throw StateError(3, Text::fill(TR("~/.claude.json は JSON ではありません (byte %1)"),
                                           {std::to_string(e.byte)}));
        } catch (const json::exception&) {
            throw StateError(3, TR("~/.claude.json は JSON ではありません"));
        }
        if (!state.is_object())
            throw StateError(2, TR("~/.claude.json を解析できません"));

        const mode_t mode = before ? before->mode : 0600;
        FileIO::writeAtomic(backupFile(home), *bytes, mode, error); // a failed backup is no failure
        bytes.reset();

        for (const auto& key : kIdentityKeys)
            if (const auto it = identity->find(key); it != identity->end())
                state[key] = *it;

        std::string text;
        try {
            text = state.dump(2);
            text.push_back('\n');
        } catch (const json::exception&) {
            throw StateError(4, TR("~/.claude.json を書き出せません"));
        }
        state = json();

        // claude may have rewritten the file meanwhile: start again on its new content rather
        // than undo its change, a few times at most.
        if (afterRead)
            afterRead();
        const auto now = stampOf(target);
        if (attempt < kAttempts && before && now && !now->sameAs(*before))
            continue;
        if (!FileIO::writeAtomic(target, text, mode, error))
            throw FileError(file, error);
        return;
    }
}

} // namespace ClaudeAppState
