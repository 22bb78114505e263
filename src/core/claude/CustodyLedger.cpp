#include "claude/CustodyLedger.h"

#include "base/Clock.h"
#include "base/Digest.h"
#include "base/Errors.h"
#include "base/FileIO.h"
#include "base/Json.h"
#include "base/Language.h"
#include "base/Text.h"
#include "claude/CustodyLock.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr std::size_t kMaxFileBytes = 4u << 20;

const char* stateName(CustodyLedger::State state) {
    switch (state) {
    case CustodyLedger::State::claudes:
        return "claudes";
    case CustodyLedger::State::spent:
        return "spent";
    case CustodyLedger::State::unknown:
        break;
    }
    return "unknown";
}

std::optional<CustodyLedger::State> stateOf(const json& value) {
    if (!value.is_string())
        return std::nullopt;
    const auto& name = value.get_ref<const std::string&>();
    if (name == "claudes")
        return CustodyLedger::State::claudes;
    if (name == "spent")
        return CustodyLedger::State::spent;
    if (name == "unknown")
        return CustodyLedger::State::unknown;
    return std::nullopt;
}

std::optional<Instant> instantOf(const json& object, const char* name) {
    const auto it = object.find(name);
    if (it == object.end() || !it->is_string())
        return std::nullopt;
    // Within two centuries of 1970: any other date is a hand's, and the clock's arithmetic on it
    // would overflow.
    const auto t = DateTime::parseIso8601(it->get_ref<const std::string&>());
    constexpr auto kSpan = std::chrono::hours(24 * 365 * 200);
    if (!t || *t < Instant{} - kSpan || *t > Instant{} + kSpan)
        return std::nullopt;
    return t;
}

std::optional<std::string> textOf(const json& object, const char* name) {
    const auto it = object.find(name);
    if (it == object.end() || !it->is_string())
        return std::nullopt;
    return it->get<std::string>();
}

std::optional<Uuid> uuidOf(const json& object, const char* name) {
    const auto text = textOf(object, name);
    return text ? Uuid::parse(*text) : std::nullopt;
}

void put(json& object, const char* name, const std::optional<Instant>& t) {
    if (t)
        object[name] = DateTime::formatIso8601(*t);
}

std::string encode(const CustodyLedger::Contents& c) {
    json root = json::object();
    root["version"] = 1;
    json tokens = json::object();
    for (const auto& [key, t] : c.tokens) {
        json entry = {{"state", stateName(t.state)}, {"since", DateTime::formatIso8601(t.since)}};
        if (t.account)
            entry["account"] = *t.account;
        put(entry, "expiresAt", t.expiresAt);
        put(entry, "until", t.until);
        tokens[key] = std::move(entry);
    }
    root["tokens"] = std::move(tokens);
    if (c.switching)
        root["switching"] = {{"target", c.switching->target.toString()},
                             {"token", c.switching->token},
                             {"since", DateTime::formatIso8601(c.switching->since)}};
    json pending = json::array();
    for (const auto& p : c.pending)
        pending.push_back({{"id", p.id.toString()},
                           {"kind", p.enrolment ? "enrolment" : "removal"},
                           {"since", DateTime::formatIso8601(p.since)}});
    root["pending"] = std::move(pending);
    json removed = json::array();
    for (const auto& [id, since] : c.removed)
        removed.push_back({{"id", id.toString()}, {"since", DateTime::formatIso8601(since)}});
    root["removed"] = std::move(removed);
    json slots = json::object();
    for (const auto& [id, account] : c.slotAccounts)
        slots[id.toString()] = account ? json(*account) : json();
    root["slots"] = std::move(slots);
    return root.dump(1) + "\n";
}

std::optional<CustodyLedger::Contents> decode(std::string_view text) {
    const auto root = Json::parse(text);
    if (!root || !root->is_object())
        return std::nullopt;
    CustodyLedger::Contents c;
    // Entries that cannot be read are passed over: the rest still counts.
    if (const auto tokens = root->find("tokens"); tokens != root->end() && tokens->is_object())
        for (const auto& [key, value] : tokens->items()) {
            if (!value.is_object())
                continue;
            const auto state = stateOf(value.value("state", json()));
            const auto since = instantOf(value, "since");
            if (!state || !since)
                continue;
            c.tokens[key] = CustodyLedger::Token{*state, *since, textOf(value, "account"),
                                                 instantOf(value, "expiresAt"), instantOf(value, "until")};
        }
    if (const auto s = root->find("switching"); s != root->end() && s->is_object()) {
        const auto target = uuidOf(*s, "target");
        const auto token = textOf(*s, "token");
        const auto since = instantOf(*s, "since");
        if (target && token && since)
            c.switching = CustodyLedger::Switch{*target, *token, *since};
    }
    if (const auto pending = root->find("pending"); pending != root->end() && pending->is_array())
        for (const auto& value : *pending) {
            if (!value.is_object())
                continue;
            const auto id = uuidOf(value, "id");
            const auto since = instantOf(value, "since");
            if (id && since)
                c.pending.push_back({*id, textOf(value, "kind") == "enrolment", *since});
        }
    if (const auto removed = root->find("removed"); removed != root->end() && removed->is_array())
        for (const auto& value : *removed) {
            if (!value.is_object())
                continue;
            const auto id = uuidOf(value, "id");
            const auto since = instantOf(value, "since");
            if (id && since)
                c.removed[*id] = *since;
        }
    if (const auto slots = root->find("slots"); slots != root->end() && slots->is_object())
        for (const auto& [key, value] : slots->items())
            if (const auto id = Uuid::parse(key); id && (value.is_string() || value.is_null()))
                c.slotAccounts[*id] =
                    value.is_string() ? std::optional(value.get<std::string>()) : std::nullopt;
    return c;
}

} // namespace

bool CustodyLedger::Contents::operator==(const Contents& other) const {
    return encode(*this) == encode(other);
}

CustodyLedger::CustodyLedger(fs::path dataDir, const Clock& clock)
    : m_dir(std::move(dataDir))
    , m_clock(clock) {}

std::string CustodyLedger::fingerprint(std::string_view refreshToken) {
    return Digest::sha256Hex(refreshToken);
}

std::optional<CustodyLedger::Contents> CustodyLedger::load(bool& unreadable) const {
    unreadable = false;
    std::error_code error;
    const auto text = FileIO::readFile(m_dir / kFileName, kMaxFileBytes, error);
    if (!text) {
        unreadable = error != std::errc::no_such_file_or_directory;
        return std::nullopt;
    }
    auto contents = decode(*text);
    unreadable = !contents;
    return contents;
}

CustodyLedger::Contents CustodyLedger::read() const {
    bool unreadable = false;
    return load(unreadable).value_or(Contents{});
}

bool CustodyLedger::sound() const {
    bool unreadable = false;
    (void)load(unreadable);
    return !unreadable;
}

Error CustodyLedger::damaged() const {
    return Error(Text::fill(TR("%1 を読めないため、ログインを更新・切替えしません。ファイルを直すか、"
                               "取り込み直すつもりで削除してください"),
                            {(m_dir / kFileName).string()}));
}

void CustodyLedger::update(const std::function<void(Contents&)>& change) {
    const CustodyLock lock(m_dir);
    bool unreadable = false;
    const std::optional<Contents> before = load(unreadable);
    // What it knew (tokens spent or sent without an answer, tokens claude holds) cannot be known
    // anew: nothing that depends on it goes ahead until the file is mended or removed.
    if (unreadable)
        throw damaged();
    Contents after = before.value_or(Contents{});
    change(after);
    const Instant now = m_clock.now();
    std::erase_if(after.tokens, [&](const auto& entry) {
        const Token& t = entry.second;
        if (t.state == State::claudes && !t.until)
            return false; // live: claude's for as long as it is
        if (t.state == State::claudes && t.until && *t.until <= now)
            return true; // claude has had its time: the token is no one's to keep track of
        return t.since < now - kKeptFor;
    });
    std::erase_if(after.removed, [&](const auto& entry) { return now - entry.second > kKeptFor; });
    if (before && *before == after)
        return;
    if (!before && after == Contents{})
        return; // nothing to keep: no file is made
    std::error_code error;
    if (!FileIO::writeAtomic(m_dir / kFileName, encode(after), 0600, error))
        throw FileError(m_dir / kFileName, error);
}
