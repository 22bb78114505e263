#include "net/Origins.h"

#include <cstdlib>

namespace Origins {
namespace {

bool allDigits(std::string_view s) {
    if (s.empty())
        return false;
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

bool isLoopbackIPv4(std::string_view host) {
    int parts = 0;
    while (true) {
        const auto dot = host.find('.');
        const std::string_view part = host.substr(0, dot);
        if (!allDigits(part) || part.size() > 3 || std::atoi(std::string(part).c_str()) > 255)
            return false;
        if (parts == 0 && part != "127")
            return false;
        ++parts;
        if (dot == std::string_view::npos)
            break;
        host.remove_prefix(dot + 1);
    }
    return parts == 4;
}

std::string fromEnvironment(const char* variable, std::string_view fallback) {
    const char* value = std::getenv(variable);
    if (value && isLoopbackOrigin(value))
        return value;
    return std::string(fallback);
}

} // namespace

bool isLoopbackOrigin(std::string_view origin) {
    if (origin.starts_with("http://"))
        origin.remove_prefix(7);
    else if (origin.starts_with("https://"))
        origin.remove_prefix(8);
    else
        return false;

    std::string_view host;
    std::string_view rest;
    if (origin.starts_with("[")) {
        const auto close = origin.find(']');
        if (close == std::string_view::npos)
            return false;
        host = origin.substr(0, close + 1);
        rest = origin.substr(close + 1);
    } else {
        const auto colon = origin.find(':');
        host = origin.substr(0, colon);
        rest = colon == std::string_view::npos ? std::string_view() : origin.substr(colon);
    }
    if (!rest.empty()) {
        if (rest.front() != ':')
            return false;
        const std::string_view port = rest.substr(1);
        if (!allDigits(port) || port.size() > 5 || std::atoi(std::string(port).c_str()) > 65535)
            return false;
    }
    return host == "localhost" || host == "[::1]" || isLoopbackIPv4(host);
}

std::string api() {
    return fromEnvironment("ULMET_API_ORIGIN", kApi);
}
std::string console() {
    return fromEnvironment("ULMET_CONSOLE_ORIGIN", kConsole);
}

} // namespace Origins
