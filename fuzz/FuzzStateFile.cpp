// ~/.claude.json: the streaming reader accepts exactly what the full parser accepts and finds the
// same identity; writeIdentity either fails and leaves the file alone, or keeps every other
// member with its value.
#include "claude/ClaudeAppState.h"
#include "claude/JsonTopLevel.h"

#include "FuzzSupport.h"

#include <nlohmann/json.hpp>

#include <cstdint>

using nlohmann::json;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    json full;
    // A NUL byte ends nlohmann's reading early; it is no JSON.
    bool parsed = text.find('\0') == std::string::npos;
    try {
        if (parsed)
            full = json::parse(text);
    } catch (const json::exception&) {
        parsed = false;
    }
    const auto scanned = JsonTopLevel::scan(text, {"oauthAccount", "userID"});
    FUZZ_CHECK(scanned.has_value() == parsed);
    if (parsed && full.is_object())
        for (const char* key : {"oauthAccount", "userID"}) {
            const auto it = scanned->members.find(key);
            FUZZ_CHECK((it != scanned->members.end()) == full.contains(key));
            if (it != scanned->members.end())
                FUZZ_CHECK(json::parse(it->second) == full[key]);
        }

    const auto home = fuzzsupport::scratch() / "home";
    fuzzsupport::writeFile(home / ".claude.json", text);
    const std::string identity = R"({"oauthAccount":{"emailAddress":"fuzz@example.com"},"userID":"fuzz"})";
    try {
        ClaudeAppState::writeIdentity(home, identity);
    } catch (const Error&) {
        FUZZ_CHECK(fuzzsupport::readFile(home / ".claude.json") == text);
        return 0;
    }
    FUZZ_CHECK(parsed && full.is_object());
    const json after = json::parse(fuzzsupport::readFile(home / ".claude.json"));
    FUZZ_CHECK(after["userID"] == "fuzz");
    for (const auto& [key, value] : full.items())
        if (key != "oauthAccount" && key != "userID")
            FUZZ_CHECK(after.contains(key) && after[key] == value);
    FUZZ_CHECK(ClaudeAppState::readIdentity(home) == identity);
    return 0;
}
