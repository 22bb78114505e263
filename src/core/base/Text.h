#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Small text helpers for UTF-8 strings.
namespace Text {

// The value of a hexadecimal digit (either case), or -1.
int hexValue(int c);

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view s);

// Pads `s` with spaces on the right, or cuts it, to exactly `width` UTF-16 code units (a
// character outside the Basic Multilingual Plane counts two). Expects valid UTF-8; a cut never
// splits a character's bytes (a pair that would be split is replaced by a space).
std::string padOrCutUtf16(std::string_view s, std::size_t width);

// FNV-1a, 64 bits: a short name for a text (file names, fingerprints compared in memory).
std::uint64_t fnv1a64(std::string_view s);

} // namespace Text
