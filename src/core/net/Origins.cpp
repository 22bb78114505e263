#include "net/Origins.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdlib>
#include <string>

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

// A loopback address in its one canonical spelling: what inet_pton parses and inet_ntop writes
// back the same, so that nothing but the address itself reaches the resolver (a name, or a form
// such as "127.0.0.08" that a resolver may look up by DNS).
bool isLoopbackAddress(std::string_view host) {
    const bool v6 = host.size() > 2 && host.front() == '[' && host.back() == ']';
    const std::string text(v6 ? host.substr(1, host.size() - 2) : host);
    unsigned char address[sizeof(in6_addr)];
    char back[INET6_ADDRSTRLEN];
    const int family = v6 ? AF_INET6 : AF_INET;
    if (inet_pton(family, text.c_str(), address) != 1 || !inet_ntop(family, address, back, sizeof back) ||
        text != back)
        return false;
    if (v6)
        return IN6_IS_ADDR_LOOPBACK(reinterpret_cast<const in6_addr*>(address));
    return address[0] == 127;
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
    return isLoopbackAddress(host);
}

std::string api() {
    return fromEnvironment("ULMET_API_ORIGIN", kApi);
}
std::string console() {
    return fromEnvironment("ULMET_CONSOLE_ORIGIN", kConsole);
}

} // namespace Origins
