#include "history/HistoryStore.h"

#include "base/FileIO.h"
#include "base/Json.h"
#include "base/Text.h"
#include "history/HistoryRetention.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr std::size_t kMaxDayFile = std::size_t(1) << 30;

void appendNumber(std::string& out, double v) {
    char buffer[32];
    if (v == std::trunc(v) && std::fabs(v) <= 9007199254740992.0) {
        const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, static_cast<long long>(v));
        out.append(buffer, end);
        return;
    }
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v); // shortest exact form
    out.append(buffer, end);
}

void appendString(std::string& out, std::string_view s) {
    out.push_back('"');
    for (const char c : s) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char u[8];
                std::snprintf(u, sizeof u, "\\u%04x", static_cast<unsigned>(c));
                out += u;
            } else {
                out.push_back(c);
            }
        }
    }
    out.push_back('"');
}

// The exact line form the writer emits, read without building a JSON document. Anything else
// (other member order, white space, escapes, unknown members) is left to the general reader.
class FastLine {
public:
    explicit FastLine(std::string_view line)
        : m_p(line.data())
        , m_end(line.data() + line.size()) {}

    std::optional<HistoryRecord> read() {
        std::string_view ts, id;
        HistoryRecord record;
        if (!lit("{\"ts\":") || !str(ts) || !lit(",\"profileID\":") || !str(id) || !lit(",\"windows\":["))
            return std::nullopt;
        const auto t = DateTime::parseIso8601(ts, false);
        const auto uuid = Uuid::parse(id);
        if (!t || !uuid)
            return std::nullopt;
        record.ts = *t;
        record.profileID = *uuid;
        record.windows.reserve(4);
        if (!lit("]")) {
            for (;;) {
                std::string_view key;
                UsageWindow w;
                if (!lit("{\"key\":") || !str(key) || (m_sawHighByte && !Text::isValidUtf8(key)) ||
                    !lit(",\"utilization\":") || !num(w.utilization))
                    return std::nullopt;
                w.key = key;
                if (lit(",\"resetsAt\":")) {
                    std::string_view r;
                    if (!str(r))
                        return std::nullopt;
                    w.resetsAt = DateTime::parseIso8601(r, false);
                    if (!w.resetsAt)
                        return std::nullopt;
                }
                if (lit(",\"windowSeconds\":")) {
                    double s = 0;
                    if (!num(s))
                        return std::nullopt;
                    w.windowSeconds = s;
                }
                if (!lit("}"))
                    return std::nullopt;
                record.windows.push_back(std::move(w));
                if (lit(","))
                    continue;
                if (lit("]"))
                    break;
                return std::nullopt;
            }
        }
        if (!lit("}") || m_p != m_end)
            return std::nullopt;
        return record;
    }

private:
    bool lit(std::string_view s) {
        if (static_cast<std::size_t>(m_end - m_p) < s.size() || std::memcmp(m_p, s.data(), s.size()) != 0)
            return false;
        m_p += s.size();
        return true;
    }
    bool str(std::string_view& out) {
        if (m_p == m_end || *m_p != '"')
            return false;
        const char* start = ++m_p;
        unsigned char high = 0;
        while (m_p < m_end && *m_p != '"') {
            const auto c = static_cast<unsigned char>(*m_p);
            if (c == '\\' || c < 0x20)
                return false;
            high |= c;
            ++m_p;
        }
        m_sawHighByte = (high & 0x80) != 0;
        if (m_p == m_end)
            return false;
        out = std::string_view(start, static_cast<std::size_t>(m_p - start));
        ++m_p;
        return true;
    }
    // Short plain decimals ("42", "42.5", "-0.25") exactly: an integer below 2^53 divided by an
    // exact power of ten is correctly rounded, the same double from_chars gives.
    static bool fastDecimal(const char* p, const char* end, double& out) {
        static constexpr double kPow10[] = {1,   10,  100,  1e3,  1e4,  1e5,  1e6,  1e7,
                                            1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
        const bool negative = *p == '-';
        if (negative)
            ++p;
        std::uint64_t mantissa = 0;
        int digitCount = 0;
        int fractionDigits = 0;
        bool inFraction = false;
        for (; p < end; ++p) {
            if (*p == '.') {
                inFraction = true;
                continue;
            }
            if (*p < '0' || *p > '9' || ++digitCount > 15)
                return false; // exponent, or too many digits for the exact path
            mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
            fractionDigits += inFraction;
        }
        out = static_cast<double>(mantissa) / kPow10[fractionDigits];
        if (negative)
            out = -out;
        return true;
    }

    // A JSON number: -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
    bool num(double& out) {
        const char* start = m_p;
        auto digit = [&] { return m_p < m_end && *m_p >= '0' && *m_p <= '9'; };
        if (m_p < m_end && *m_p == '-')
            ++m_p;
        if (!digit())
            return false;
        if (*m_p == '0')
            ++m_p;
        else
            while (digit())
                ++m_p;
        if (m_p < m_end && *m_p == '.') {
            ++m_p;
            if (!digit())
                return false;
            while (digit())
                ++m_p;
        }
        if (m_p < m_end && (*m_p == 'e' || *m_p == 'E')) {
            ++m_p;
            if (m_p < m_end && (*m_p == '+' || *m_p == '-'))
                ++m_p;
            if (!digit())
                return false;
            while (digit())
                ++m_p;
        }
        if (fastDecimal(start, m_p, out))
            return true;
        const auto [end, ec] = std::from_chars(start, m_p, out);
        return ec == std::errc() && end == m_p && std::isfinite(out);
    }

    const char* m_p;
    const char* m_end;
    bool m_sawHighByte = false; // in the last string read
};

// The general reader: any valid JSON object with the required members.
std::optional<HistoryRecord> decodeGeneral(std::string_view line) {
    const auto doc = Json::parse(line);
    if (!doc || !doc->is_object())
        return std::nullopt;
    auto member = [](const json& o, const char* key) -> const json* {
        const auto it = o.find(key);
        return it == o.end() || it->is_null() ? nullptr : &*it;
    };
    const json* ts = member(*doc, "ts");
    const json* id = member(*doc, "profileID");
    const json* windows = member(*doc, "windows");
    if (!ts || !ts->is_string() || !id || !id->is_string() || !windows || !windows->is_array())
        return std::nullopt;
    HistoryRecord record;
    const auto t = DateTime::parseIso8601(ts->get_ref<const std::string&>(), false);
    const auto uuid = Uuid::parse(id->get_ref<const std::string&>());
    if (!t || !uuid)
        return std::nullopt;
    record.ts = *t;
    record.profileID = *uuid;
    for (const json& w : *windows) {
        if (!w.is_object())
            return std::nullopt;
        const json* key = member(w, "key");
        const json* utilization = member(w, "utilization");
        if (!key || !key->is_string() || !utilization || !utilization->is_number())
            return std::nullopt;
        UsageWindow window{key->get<std::string>(), utilization->get<double>(), std::nullopt, std::nullopt};
        if (const json* r = member(w, "resetsAt")) {
            if (!r->is_string())
                return std::nullopt;
            window.resetsAt = DateTime::parseIso8601(r->get_ref<const std::string&>(), false);
            if (!window.resetsAt)
                return std::nullopt;
        }
        if (const json* s = member(w, "windowSeconds")) {
            if (!s->is_number())
                return std::nullopt;
            window.windowSeconds = s->get<double>();
        }
        record.windows.push_back(std::move(window));
    }
    return record;
}

constexpr const char* kRetentionMarker = ".retention";
constexpr std::size_t kFilesPerStep = 2;

// A temporary file of an atomic write of ours ("<name>.tmp-XXXXXX") that a crash left behind.
bool isLeftoverTemp(std::string_view name) {
    const auto at = name.rfind(".tmp-");
    if (at == std::string_view::npos || name.size() != at + 11)
        return false;
    const std::string_view base = name.substr(0, at);
    return base == kRetentionMarker || HistoryStore::isDayFileName(base);
}

} // namespace

HistoryStore::HistoryStore(fs::path dir, const Clock& clock)
    : m_clock(clock)
    , m_dir(std::move(dir)) {
    std::error_code error;
    FileIO::createDirectories(m_dir, 0700, error);
    m_worker = std::thread([this] { run(); });
}

HistoryStore::~HistoryStore() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_worker.join();
}

void HistoryStore::run() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
            if (m_tasks.empty())
                return; // stopping, and every queued task is done
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        task();
    }
}

void HistoryStore::post(std::function<void()> task) {
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
}

void HistoryStore::append(HistoryRecord record) {
    post([this, record = std::move(record)] {
        write(record);
        const Instant now = m_clock.now();
        if (m_pass || now < m_nextRetention)
            return;
        startRetention(now);
        if (retentionStep(0))
            post([this] { continueRetention(); });
    });
}

void HistoryStore::continueRetention() {
    bool stopping;
    {
        std::lock_guard lock(m_mutex);
        stopping = m_stopping;
    }
    // When the store ends mid-pass the rest waits for the next one: the marker says where to go on.
    if (!stopping && retentionStep(kFilesPerStep))
        post([this] { continueRetention(); });
}

void HistoryStore::applyRetention(Instant now) {
    std::promise<void> done;
    auto future = done.get_future();
    post([this, now, &done] {
        startRetention(now);
        while (retentionStep(std::numeric_limits<std::size_t>::max())) {
        }
        done.set_value();
    });
    future.get();
}

void HistoryStore::startRetention(Instant now) {
    m_nextRetention = now + std::chrono::hours(24);
    RetentionPass pass;
    std::error_code error;
    if (auto marker = FileIO::readFile(m_dir / kRetentionMarker, 64, error)) {
        const std::string_view name = std::string_view(*marker).substr(0, marker->find('\n'));
        if (isDayFileName(name))
            pass.thinnedThrough = name;
    }
    const auto today = HistoryRetention::localDay(now);
    for (fs::directory_iterator it(m_dir, error), end; !error && it != end; it.increment(error)) {
        std::string name = it->path().filename().string();
        switch (HistoryRetention::fateOf(name, today)) {
        case HistoryRetention::Fate::remove:
            pass.files.push_back({std::move(name), false});
            break;
        case HistoryRetention::Fate::thin:
            if (name > pass.thinnedThrough)
                pass.files.push_back({std::move(name), true});
            break;
        case HistoryRetention::Fate::keepWhole:
            if (isLeftoverTemp(name)) {
                // Only this worker writes them: one older than a minute belongs to no write.
                std::error_code e;
                const auto age = fs::file_time_type::clock::now() - fs::last_write_time(it->path(), e);
                if (!e && age > std::chrono::minutes(1))
                    fs::remove(it->path(), e);
            }
            break;
        }
    }
    std::sort(pass.files.begin(), pass.files.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    m_pass = std::move(pass);
}

bool HistoryStore::retentionStep(std::size_t maxFiles) {
    if (!m_pass)
        return false;
    RetentionPass& pass = *m_pass;
    std::string marker;
    for (std::size_t n = 0; n < maxFiles && pass.next < pass.files.size(); ++n, ++pass.next) {
        const auto& [name, thinning] = pass.files[pass.next];
        const bool done = retire(name, thinning);
        if (!thinning)
            continue;
        pass.advancing = pass.advancing && done;
        if (pass.advancing)
            marker = name;
    }
    if (!marker.empty()) {
        std::error_code error; // worth nothing after a crash: the next pass only looks again
        FileIO::writeAtomic(m_dir / kRetentionMarker, marker + "\n", 0600, error,
                            FileIO::Durability::unsynced);
    }
    if (pass.next < pass.files.size())
        return true;
    m_pass.reset();
    return false;
}

bool HistoryStore::retire(const std::string& name, bool thinning) {
    const fs::path file = m_dir / name;
    std::error_code error;
    const auto text = FileIO::readFile(file, kMaxDayFile, error);
    if (!text)
        return error == std::errc::no_such_file_or_directory || error == std::errc::file_too_large;
    if (!thinning) {
        // A file that holds anything but records is the user's, whatever its name.
        if (HistoryRetention::holdsOnlyRecords(*text))
            fs::remove(file, error);
        return true;
    }
    const auto thinned = HistoryRetention::thin(*text);
    if (!thinned || *thinned == *text)
        return true; // not ours to rewrite, or nothing to drop
    // A record appended since it was read (another instance with a clock set back) stays: the
    // file is replaced only while it is still the one that was read.
    struct stat now {};
    if (::stat(file.c_str(), &now) != 0 || static_cast<std::size_t>(now.st_size) != text->size())
        return false;
    return FileIO::writeAtomic(file, *thinned, 0600, error);
}

std::vector<HistoryRecord> HistoryStore::load(Instant since) {
    std::promise<std::vector<HistoryRecord>> promise;
    auto future = promise.get_future();
    post([this, since, &promise] {
        try {
            promise.set_value(read(since));
        } catch (...) {
            promise.set_exception(std::current_exception());
        }
    });
    return future.get();
}

std::optional<std::string> HistoryStore::encodeLine(const HistoryRecord& record) {
    std::string line;
    line.reserve(96 + record.windows.size() * 96);
    line += "{\"ts\":\"";
    line += DateTime::formatIso8601(record.ts);
    line += "\",\"profileID\":\"";
    line += record.profileID.toString();
    line += "\",\"windows\":[";
    for (std::size_t i = 0; i < record.windows.size(); ++i) {
        const UsageWindow& w = record.windows[i];
        if (!std::isfinite(w.utilization) || (w.windowSeconds && !std::isfinite(*w.windowSeconds)) ||
            !Text::isValidUtf8(w.key))
            return std::nullopt;
        line += i ? ",{\"key\":" : "{\"key\":";
        appendString(line, w.key);
        line += ",\"utilization\":";
        appendNumber(line, w.utilization);
        if (w.resetsAt) {
            line += ",\"resetsAt\":\"";
            line += DateTime::formatIso8601(*w.resetsAt);
            line += '"';
        }
        if (w.windowSeconds) {
            line += ",\"windowSeconds\":";
            appendNumber(line, *w.windowSeconds);
        }
        line += '}';
    }
    line += "]}\n";
    return line;
}

std::optional<HistoryRecord> HistoryStore::decodeLine(std::string_view line) {
    if (auto record = FastLine(line).read())
        return record;
    return decodeGeneral(line);
}

bool HistoryStore::isDayFileName(std::string_view name) {
    constexpr std::string_view pattern = "dddd-dd-dd.jsonl";
    if (name.size() != pattern.size())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (pattern[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(name[i])) : name[i] != pattern[i])
            return false;
    return true;
}

std::string HistoryStore::dayFileName(Instant t) {
    return HistoryRetention::fileName(HistoryRetention::localDay(t));
}

void HistoryStore::decodeLines(std::string_view text, Instant since, std::vector<HistoryRecord>& out) {
    while (!text.empty()) {
        const auto nl = text.find('\n');
        const std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        if (line.empty())
            continue;
        if (auto record = decodeLine(line); record && record->ts >= since)
            out.push_back(std::move(*record));
    }
}

void HistoryStore::write(const HistoryRecord& record) const {
    const auto line = encodeLine(record);
    if (!line)
        return; // cannot be written: dropped
    const fs::path file = m_dir / dayFileName(record.ts);
    int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 && errno == ENOENT) {
        std::error_code error; // the directory went away: make it again
        FileIO::createDirectories(m_dir, 0700, error);
        fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    }
    FileIO::UniqueFd guard(fd);
    if (!guard)
        return;
    // One write of the whole line: appends of other writers never land inside it.
    std::string_view rest = *line;
    while (!rest.empty()) {
        const ssize_t n = ::write(guard.get(), rest.data(), rest.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
}

std::vector<HistoryRecord> HistoryStore::read(Instant since) const {
    // The day files from since's local day through today. Today is read on the clock that dates
    // the records (not std::time, which libfaketime and the like may serve differently), and the
    // day names are compared as text, so no conversion back to a time can go wrong.
    std::vector<fs::path> files;
    const std::string first = dayFileName(since);
    const std::string last = dayFileName(m_clock.now());
    std::error_code error;
    for (fs::directory_iterator it(m_dir, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (isDayFileName(name) && name >= first && name <= last)
            files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());

    auto decodeFiles = [&](std::size_t from, std::size_t to, std::vector<HistoryRecord>& out) {
        std::string text; // one buffer for every file
        for (std::size_t i = from; i < to; ++i) {
            std::error_code error;
            if (!FileIO::readFileInto(files[i], kMaxDayFile, text, error))
                continue;
            out.reserve(out.size() + static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) +
                        1);
            decodeLines(text, since, out);
        }
    };
    // Long ranges are decoded in two halves at once (a chart of 30 days waits on it).
    std::vector<HistoryRecord> result;
    if (files.size() >= 4) {
        const std::size_t half = files.size() / 2;
        std::vector<HistoryRecord> later;
        std::thread helper;
        try {
            helper = std::thread([&] { decodeFiles(half, files.size(), later); });
        } catch (const std::system_error&) {
            decodeFiles(half, files.size(), later); // no thread to be had: one after the other
        }
        decodeFiles(0, half, result);
        if (helper.joinable())
            helper.join();
        result.reserve(result.size() + later.size());
        std::move(later.begin(), later.end(), std::back_inserter(result));
    } else {
        decodeFiles(0, files.size(), result);
    }
    if (!std::is_sorted(result.begin(), result.end(),
                        [](const auto& a, const auto& b) { return a.ts < b.ts; }))
        std::stable_sort(result.begin(), result.end(),
                         [](const auto& a, const auto& b) { return a.ts < b.ts; });
    return result;
}
