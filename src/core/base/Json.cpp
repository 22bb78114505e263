#include "base/Json.h"

#include <cmath>
#include <stdexcept>

namespace Json {
namespace {

struct TooDeep {};

template <class J>
std::optional<J> parseLimited(std::string_view text, int maxDepth) {
    // nlohmann stops reading at a NUL byte as if the text ended there; a NUL is no JSON.
    if (text.find('\0') != std::string_view::npos)
        return std::nullopt;
    try {
        auto limitDepth = [maxDepth](int depth, typename J::parse_event_t event, J&) {
            if ((event == J::parse_event_t::object_start || event == J::parse_event_t::array_start) &&
                depth >= maxDepth)
                throw TooDeep{};
            return true;
        };
        return J::parse(text.begin(), text.end(), limitDepth);
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

} // namespace Json
