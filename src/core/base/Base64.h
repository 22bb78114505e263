#pragma once

#include <optional>
#include <string>
#include <string_view>

// Standard Base64 (RFC 4648, with padding). Byte strings are carried in std::string.
namespace Base64 {

std::string encode(std::string_view bytes);
// Strict: the length must be a multiple of four, only the standard alphabet and '=' only as
// trailing padding; no white space. Anything else gives none.
std::optional<std::string> decode(std::string_view text);

} // namespace Base64
