#pragma once

#include <cstddef>
#include <string_view>

// Substring search at memory speed for large buffers.
namespace TextSearch {

// The first occurrence of `needle` in `haystack`, or npos. Candidates are the positions where
// the needle's bytes at `filterA` and `filterB` match, 16 positions per step with SSE2 (every
// x86-64; memmem elsewhere): choose two positions whose pair is rare in the text searched.
std::size_t find(std::string_view haystack, std::string_view needle, std::size_t filterA,
                 std::size_t filterB);

} // namespace TextSearch
