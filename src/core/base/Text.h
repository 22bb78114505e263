#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
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

// `pattern` with %1…%9 replaced by `args` in order (a translated text puts them where its
// language wants them); "%%" is a percent sign, and a number with no argument stays as it is.
std::string fill(std::string_view pattern, std::initializer_list<std::string_view> args);

// Where the byte at `offset` of a text stands, as an editor counts: `line` from 1 (each line feed
// begins a new one), `column` from 1 in characters (a UTF-8 continuation byte counts with the byte
// before it). An offset at or past the end stands just after the last character.
struct LineColumn {
    std::size_t line = 1;
    std::size_t column = 1;
    friend bool operator==(const LineColumn&, const LineColumn&) = default;
};
LineColumn lineColumn(std::string_view text, std::size_t offset);

// FNV-1a, 64 bits: a short name for a text (file names, fingerprints compared in memory).
std::uint64_t fnv1a64(std::string_view s);

} // namespace Text
