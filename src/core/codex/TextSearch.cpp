#include "codex/TextSearch.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace TextSearch {

std::size_t find(std::string_view haystack, std::string_view needle, std::size_t filterA,
                 std::size_t filterB) {
    const std::size_t n = haystack.size();
    const std::size_t m = needle.size();
    if (m > n)
        return std::string_view::npos;
    if (m < 2 || filterA >= m || filterB >= m)
        return haystack.find(needle);
    std::size_t i = 0;
#if defined(__SSE2__)
    // W. Muła's filter: only positions where two chosen needle bytes match are compared in full.
    const __m128i byteA = _mm_set1_epi8(needle[filterA]);
    const __m128i byteB = _mm_set1_epi8(needle[filterB]);
    const char* data = haystack.data();
    auto candidates = [&](std::size_t at) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + filterA));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + filterB));
        return _mm_and_si128(_mm_cmpeq_epi8(a, byteA), _mm_cmpeq_epi8(b, byteB));
    };
    // 64 positions per step while nothing matches, which is nearly always.
    for (; i + m + 64 <= n; i += 64) {
        const __m128i c0 = candidates(i);
        const __m128i c1 = candidates(i + 16);
        const __m128i c2 = candidates(i + 32);
        const __m128i c3 = candidates(i + 48);
        if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(c0, c1), _mm_or_si128(c2, c3))) == 0)
            continue;
        const __m128i blocks[] = {c0, c1, c2, c3};
        for (std::size_t k = 0; k < 4; ++k) {
            unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(blocks[k]));
            while (mask) {
                const std::size_t at = i + 16 * k + static_cast<unsigned>(std::countr_zero(mask));
                if (std::memcmp(data + at, needle.data(), m) == 0)
                    return at;
                mask &= mask - 1;
            }
        }
    }
    for (; i + m + 16 <= n; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + filterA));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + filterB));
        unsigned mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, byteA), _mm_cmpeq_epi8(b, byteB))));
        while (mask) {
            const unsigned bit = static_cast<unsigned>(std::countr_zero(mask));
            if (std::memcmp(data + i + bit, needle.data(), m) == 0)
                return i + bit;
            mask &= mask - 1;
        }
    }
#endif
    const void* found = ::memmem(haystack.data() + i, n - i, needle.data(), m);
    return found ? static_cast<std::size_t>(static_cast<const char*>(found) - haystack.data())
                 : std::string_view::npos;
}

} // namespace TextSearch
