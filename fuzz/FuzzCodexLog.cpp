// A Codex session file: reading it backwards from its end gives the same report as reading every
// line forwards and keeping the last one that qualifies.
#include "base/Json.h"
#include "codex/CodexProvider.h"
#include "usage/AnthropicAPI.h"

#include "FuzzSupport.h"

#include <cstdint>

namespace {

std::optional<CodexProvider::Snapshot> forwards(std::string_view text) {
    std::optional<CodexProvider::Snapshot> last;
    while (!text.empty()) {
        const auto nl = text.find('\n');
        const std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        if (line.find("rate_limits") == std::string_view::npos)
            continue;
        const auto doc = Json::parse(line);
        if (!doc || !doc->is_object())
            continue;
        const auto* limits = CodexProvider::findRateLimits(*doc);
        if (!limits)
            continue;
        if (const auto id = limits->find("limit_id");
            id != limits->end() && id->is_string() && *id != "codex")
            continue;
        CodexProvider::Snapshot s;
        const auto ts = doc->find("timestamp");
        if (auto t = AnthropicAPI::parseDate(ts == doc->end() ? nullptr : &*ts))
            s.timestamp = *t;
        if (const auto p = limits->find("primary"); p != limits->end() && p->is_object())
            s.primary = *p;
        if (const auto p = limits->find("secondary"); p != limits->end() && p->is_object())
            s.secondary = *p;
        if (const auto p = limits->find("plan_type"); p != limits->end() && p->is_string())
            s.planType = p->get<std::string>();
        last = s;
    }
    return last;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto file = fuzzsupport::scratch() / "session.jsonl";
    fuzzsupport::writeFile(file, text);
    const auto backwards = CodexProvider::lastRateLimits(file);
    const auto expected = forwards(text);
    FUZZ_CHECK(backwards.has_value() == expected.has_value());
    if (expected) {
        FUZZ_CHECK(backwards->timestamp == expected->timestamp);
        FUZZ_CHECK(backwards->primary == expected->primary);
        FUZZ_CHECK(backwards->secondary == expected->secondary);
        FUZZ_CHECK(backwards->planType == expected->planType);
    }
    return 0;
}
