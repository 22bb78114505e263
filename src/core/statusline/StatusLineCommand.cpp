#include "statusline/StatusLineCommand.h"

#include "base/FileIO.h"
#include "base/Json.h"
#include "base/Language.h"
#include "base/Text.h"
#include "statusline/StatusLineStore.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

namespace fs = std::filesystem;

namespace StatusLineCommand {
namespace {

constexpr std::size_t kMaxSettings = 16 * 1024 * 1024;
constexpr int kAttempts = 3;

bool plainWord(std::string_view text) {
    for (const char c : text)
        if (!(std::isalnum(static_cast<unsigned char>(c)) ||
              std::string_view("/._-+,:@%").find(c) != std::string_view::npos))
            return false;
    return !text.empty();
}

// The executable a command line starts with, undoing commandFor's quoting.
std::string executableOf(std::string_view command) {
    std::string exe;
    if (command.starts_with('\'')) {
        for (std::size_t i = 1; i < command.size(); ++i) {
            if (command.substr(i).starts_with("'\\''")) {
                exe.push_back('\'');
                i += 3;
            } else if (command[i] == '\'') {
                break;
            } else {
                exe.push_back(command[i]);
            }
        }
        return exe;
    }
    return std::string(command.substr(0, command.find(' ')));
}

bool isOurs(std::string_view command) {
    if (fs::path(executableOf(command)).filename() != "ulmet")
        return false;
    const std::size_t at = command.find(" --statusline");
    return at != std::string_view::npos && (at + 13 == command.size() || command[at + 13] == ' ');
}

// What a statusLine member holds (null counts as none).
template <class Document>
Installed stateOf(const Document& entry, std::string_view ourCommand) {
    if (entry.is_null())
        return {};
    Installed installed{InstallState::other, ""};
    if (entry.is_object())
        if (const auto c = entry.find("command"); c != entry.end() && c->is_string())
            installed.command = c->template get<std::string>();
    if (isOurs(installed.command) || (!ourCommand.empty() && installed.command == ourCommand))
        installed.state = InstallState::ours;
    return installed;
}

// The statusLine member's value as it is written.
std::string statusLineText(std::string_view command) {
    return "{\n    \"type\": \"command\",\n    \"command\": " + nlohmann::json(std::string(command)).dump() +
           "\n  }";
}

// `text` (a JSON object) with the member `name` set to `value`: a member there (null) has its
// value replaced, otherwise the member is added after the last one. Every other byte is kept.
std::string withMember(const std::string& text, std::string_view name, const std::string& value) {
    const std::string_view all = text;
    std::string out;
    out.reserve(text.size() + name.size() + value.size() + 16);
    if (const auto there = Json::quickMember(text, name)) {
        const std::size_t at = static_cast<std::size_t>(there->data() - text.data());
        out.append(all.substr(0, at)).append(value).append(all.substr(at + there->size()));
        return out;
    }
    const std::size_t close = text.find_last_of('}');
    const std::size_t last = text.find_last_not_of(" \t\r\n", close - 1);
    out.append(all.substr(0, last + 1)).append(text[last] == '{' ? "\n  \"" : ",\n  \"");
    out.append(name).append("\": ").append(value).append("\n").append(all.substr(close));
    return out;
}

std::string describe(const std::error_code& error) {
    return error.message();
}

} // namespace

std::optional<std::string> readInput(int fd, std::size_t maxBytes, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string text;
    char buffer[65536];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return std::nullopt; // silent until the deadline, or a poll failure
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return std::nullopt;
        }
        if (n == 0)
            return text;
        if (text.size() + static_cast<std::size_t>(n) > maxBytes)
            return std::nullopt;
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

std::string line(const std::vector<UsageWindow>& windows, Instant now) {
    std::string out;
    for (const UsageWindow& w : windows) {
        if (!out.empty())
            out += " · ";
        out += UsageWindow::compactLabel(w.key);
        out += ' ';
        out += UsageWindow::percentText(w.utilization);
        if (w.resetsAt) {
            out += ' ';
            out += UsageWindow::remainShort(*w.resetsAt, now);
        }
    }
    return out;
}

int run(int inputFd, std::ostream& out, const Environment& env) {
    try {
        const auto text = readInput(inputFd, kMaxInput, kInputTimeout);
        const auto input = text ? StatusLineStore::parseInput(*text) : std::nullopt;
        const std::string dir = StatusLineStore::configDirFor(
            env.claudeConfigDir, input ? input->transcriptPath : std::nullopt, env.home);
        std::vector<UsageWindow> windows;
        if (input && !input->windows.empty()) {
            std::error_code error; // a reading that cannot be filed still makes the line
            StatusLineReading reading{dir, env.now, input->windows, std::nullopt, std::nullopt};
            // The account is read from claude's state file only when that has changed since the
            // last reading: at every redraw it costs a stat.
            reading.stateStamp = StatusLineStore::stateStamp(dir, env.home);
            const auto before = StatusLineStore::load(env.baseDir, dir, env.home);
            if (before && !reading.stateStamp.empty() && before->stateStamp == reading.stateStamp) {
                reading.account = before->account;
                reading.accountUnknown = before->accountUnknown;
            } else {
                reading.account = StatusLineStore::liveAccount(dir, env.home, reading.accountUnknown);
            }
            StatusLineStore::record(env.baseDir, reading, error);
            windows = input->windows;
        } else if (const auto stored = StatusLineStore::load(env.baseDir, dir, env.home)) {
            windows = StatusLineStore::windowsAt(*stored, env.now);
        }
        out << line(windows, env.now) << '\n';
    } catch (const std::exception&) {
        out << '\n';
    }
    out.flush();
    return 0;
}

std::string commandFor(const fs::path& executable) {
    const std::string path = executable.string();
    if (plainWord(path))
        return path + " --statusline";
    std::string quoted = "'";
    for (const char c : path)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "' --statusline";
}

Installed inspect(const fs::path& dir, std::string_view ourCommand) {
    std::error_code error;
    const auto text = FileIO::readFile(dir / "settings.json", kMaxSettings, error);
    if (!text)
        return {};
    const auto doc = Json::parse(*text);
    if (!doc || !doc->is_object())
        return {};
    const auto entry = doc->find("statusLine");
    return entry == doc->end() ? Installed{} : stateOf(*entry, ourCommand);
}

InstallResult install(const fs::path& dir, std::string_view command) {
    const fs::path file = dir / "settings.json";
    const std::string shown = file.string();
    std::error_code error;
    if (!fs::is_directory(dir, error))
        return {false, true, Text::fill(TR("%1 はディレクトリではありません"), {dir.string()})};
    // A link stays a link, and the file it leads to is edited where it is (settings kept with the
    // user's dotfiles): but only a file named settings.json, and never a login (a project may plant
    // settings.json → ~/.claude/.credentials.json). Its backup goes beside it, not beside the link.
    const fs::path target = FileIO::linkTarget(file);
    if (target.filename() != "settings.json")
        return {
            false, true,
            Text::fill(TR("%1 は settings.json ではないファイル（%2）を指すリンクです。変更しませんでした"),
                       {shown, target.string()})};
    const fs::path backup = target.parent_path() / (target.filename().string() + ".meterkeeper-bak");
    for (int attempt = 1;; ++attempt) {
        mode_t mode = 0600;
        std::optional<std::string> before = FileIO::readFile(target, kMaxSettings, error);
        nlohmann::ordered_json doc = nlohmann::ordered_json::object();
        if (before) {
            const auto parsed = Json::parseOrdered(*before);
            if (!parsed || !parsed->is_object())
                return {false, true,
                        Text::fill(TR("%1 は JSON オブジェクトではありません。変更しませんでした"), {shown})};
            doc = *parsed;
            if (doc.contains("claudeAiOauth"))
                return {false, true,
                        Text::fill(TR("%1 はログイン情報のファイルです。変更しませんでした"), {shown})};
            struct stat st {};
            if (::stat(target.c_str(), &st) == 0)
                mode = st.st_mode & 07777;
        } else if (error != std::errc::no_such_file_or_directory) {
            return {false, true, Text::fill(TR("%1 を読めません: %2"), {shown, describe(error)})};
        }
        if (const auto entry = doc.find("statusLine"); entry != doc.end() && !entry->is_null()) {
            const Installed there = stateOf(*entry, command);
            if (there.state == InstallState::ours)
                return {false, false,
                        Text::fill(TR("%1 には既に MeterKeeper の statusLine があります: %2"),
                                   {shown, there.command})};
            return {false, true,
                    there.command.empty()
                        ? Text::fill(TR("%1 には既に別の statusLine があります。変更しませんでした"), {shown})
                        : Text::fill(TR("%1 には既に別の statusLine があります: %2。変更しませんでした"),
                                     {shown, there.command})};
        }
        if (before && !FileIO::writeAtomic(backup, *before, mode, error))
            return {false, true,
                    Text::fill(TR("%1 のバックアップを作れません: %2"), {shown, describe(error)})};
        // The member goes into the text as it stands: every other byte stays (numbers too big for
        // a double, the user's layout and comments of style).
        const std::string text = withMember(before.value_or("{}"), "statusLine", statusLineText(command));
        const auto check = Json::parseOrdered(text);
        if (!check || !check->is_object() ||
            check->size() != doc.size() + (doc.contains("statusLine") ? 0 : 1))
            return {false, true,
                    Text::fill(TR("%1 に statusLine を加えられませんでした。変更しませんでした"), {shown})};
        // claude may have rewritten the file meanwhile: start again on its new content, and give up
        // rather than write over a change that keeps coming.
        std::error_code again;
        const auto now = FileIO::readFile(target, kMaxSettings, again);
        if (now != before) {
            if (attempt < kAttempts)
                continue;
            return {false, true,
                    Text::fill(TR("%1 が書き換えられ続けているため、変更しませんでした"), {shown})};
        }
        if (!FileIO::writeAtomic(target, before ? text : text + "\n", mode, error))
            return {false, true, Text::fill(TR("%1 に書き込めません: %2"), {shown, describe(error)})};
        return {true, false, Text::fill(TR("%1 に statusLine を追加しました: %2"), {shown, command})};
    }
}

} // namespace StatusLineCommand
