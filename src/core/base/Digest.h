#pragma once

#include <string>
#include <string_view>

// One-way digests, for naming a secret in a file without keeping the secret.
namespace Digest {

// SHA-256 of `bytes` as 64 lowercase hexadecimal digits.
std::string sha256Hex(std::string_view bytes);

} // namespace Digest
