#pragma once

#include <string>
#include <string_view>

// Where the account provider's endpoints live. Compiled constants; for tests only, the
// environment variables ULMET_API_ORIGIN and ULMET_CONSOLE_ORIGIN may point them at a loopback
// server. Any other override is ignored, so a token is never sent elsewhere.
namespace Origins {

inline constexpr std::string_view kApi = "https://api.anthropic.com";
inline constexpr std::string_view kConsole = "https://platform.claude.com";

// True for "http://" or "https://" followed by an address of 127.0.0.0/8 or "[::1]" in its
// canonical spelling (no name, not even "localhost"), an optional ":port", and nothing else (no
// path, no user, no trailing slash).
bool isLoopbackOrigin(std::string_view origin);

// The usage and profile endpoints' origin; read from the environment at every call.
std::string api();
// The token endpoint's origin; read from the environment at every call.
std::string console();

} // namespace Origins
