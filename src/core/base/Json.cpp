#include "base/Json.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace Json {
namespace {

struct TooDeep {};

template <class J>
std::optional<J> parseLimited(std::string_view text, int maxDepth, SyntaxError* why = nullptr) {
    // nlohmann stops reading at a NUL byte as if the text ended there; a NUL is no JSON.
    if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos) {
        if (why)
            why->offset = nul;
        return std::nullopt;
    }
    if (why)
        why->offset.reset();
    try {
        auto limitDepth = [maxDepth](int depth, typename J::parse_event_t event, J&) {
            if ((event == J::parse_event_t::object_start || event == J::parse_event_t::array_start) &&
                depth >= maxDepth)
                throw TooDeep{};
            return true;
        };
        return J::parse(text.begin(), text.end(), limitDepth);
    } catch (const typename J::parse_error& e) {
        // `byte` counts the characters read, the one that went wrong included.
        if (why)
            why->offset = std::min<std::size_t>(e.byte > 0 ? e.byte - 1 : 0, text.size());
        return std::nullopt;
    } catch (const typename J::exception&) {
        return std::nullopt;
    } catch (const TooDeep&) {
        return std::nullopt;
    }
}

} // namespace

std::optional<nlohmann::json> parse(std::string_view text, int maxDepth) {
    return parseLimited<nlohmann::json>(text, maxDepth);
}

std::optional<nlohmann::json> parse(std::string_view text, SyntaxError& error, int maxDepth) {
    return parseLimited<nlohmann::json>(text, maxDepth, &error);
}

std::optional<nlohmann::ordered_json> parseOrdered(std::string_view text, int maxDepth) {
    return parseLimited<nlohmann::ordered_json>(text, maxDepth);
}

nlohmann::json number(double value) {
    if (!std::isfinite(value))
        throw std::domain_error("JSON cannot hold a non-finite number");
    constexpr double kExactLimit = 9007199254740992.0; // 2^53
    if (value == std::trunc(value) && std::fabs(value) <= kExactLimit)
        return static_cast<std::int64_t>(value);
    return value;
}

namespace {

constexpr std::string_view kSpace = " \t\r\n";

// The end of the string whose opening quote is at `at`; npos when it does not end. memchr finds
// the next quote fast; the run of backslashes before it decides whether it ends the string.
std::size_t stringEnd(std::string_view text, std::size_t at) {
    for (std::size_t i = at + 1; i < text.size();) {
        const void* hit = std::memchr(text.data() + i, '"', text.size() - i);
        if (!hit)
            return std::string_view::npos;
        const auto quote = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
        std::size_t backslashes = 0;
        while (quote - backslashes > at + 1 && text[quote - backslashes - 1] == '\\')
            ++backslashes;
        if (backslashes % 2 == 0)
            return quote + 1;
        i = quote + 1;
    }
    return std::string_view::npos;
}

// The end of the value that starts at `at`; npos when it does not end.
std::size_t valueEnd(std::string_view text, std::size_t at) {
    if (at >= text.size())
        return std::string_view::npos;
    if (text[at] == '"')
        return stringEnd(text, at);
    if (text[at] != '{' && text[at] != '[') {
        const std::size_t end = text.find_first_of(",}] \t\r\n", at);
        return end == at ? std::string_view::npos : end;
    }
    static constexpr auto kSpecial = [] {
        std::array<bool, 256> special{};
        for (const unsigned char c : std::string_view("\"{}[]"))
            special[c] = true;
        return special;
    }();
    int depth = 0;
    for (std::size_t i = at; i < text.size(); ++i) {
        const char c = text[i];
        if (!kSpecial[static_cast<unsigned char>(c)])
            continue;
        if (c == '"') {
            i = stringEnd(text, i);
            if (i == std::string_view::npos)
                return i;
            --i; // the loop steps past the closing quote
        } else if (c == '{' || c == '[') {
            ++depth;
        } else if (--depth == 0) {
            return i + 1;
        }
    }
    return std::string_view::npos;
}

} // namespace

std::optional<std::string_view> quickMember(std::string_view text, std::string_view name) {
    std::optional<std::string_view> found;
    std::size_t i = text.find_first_not_of(kSpace);
    if (i == std::string_view::npos || text[i] != '{')
        return std::nullopt;
    ++i;
    for (;;) {
        i = text.find_first_not_of(kSpace, i);
        if (i == std::string_view::npos || text[i] != '"')
            return found; // "}" ends the object; anything else is not ours to judge
        const std::size_t keyEnd = stringEnd(text, i);
        if (keyEnd == std::string_view::npos)
            return found;
        const std::string_view key = text.substr(i + 1, keyEnd - i - 2);
        i = text.find_first_not_of(kSpace, keyEnd);
        if (i == std::string_view::npos || text[i] != ':')
            return found;
        i = text.find_first_not_of(kSpace, i + 1);
        const std::size_t end = i == std::string_view::npos ? i : valueEnd(text, i);
        if (end == std::string_view::npos)
            return found;
        if (key == name)
            found = text.substr(i, end - i);
        i = text.find_first_not_of(kSpace, end);
        if (i == std::string_view::npos || text[i] != ',')
            return found;
        ++i;
    }
}

} // namespace Json
