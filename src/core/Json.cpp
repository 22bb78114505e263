#include "Json.h"

#include <cmath>
#include <stdexcept>

namespace Json {
namespace {

struct TooDeep {};

} // namespace

std::optional<nlohmann::json> parse(std::string_view text, int maxDepth) {
    try {
        auto limitDepth = [maxDepth](int depth, nlohmann::json::parse_event_t event, nlohmann::json&) {
            if ((event == nlohmann::json::parse_event_t::object_start ||
                 event == nlohmann::json::parse_event_t::array_start) &&
                depth >= maxDepth)
                throw TooDeep{};
            return true;
        };
        return nlohmann::json::parse(text.begin(), text.end(), limitDepth);
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    } catch (const TooDeep&) {
        return std::nullopt;
    }
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
