#include "base/Text.h"

#include <algorithm>
#include <cstdint>

namespace Text {
namespace {

// Length in bytes of the UTF-8 sequence starting with `lead` (1 for a stray byte).
std::size_t sequenceLength(unsigned char lead) {
    if (lead < 0x80)
        return 1;
    if ((lead & 0xE0) == 0xC0)
        return 2;
    if ((lead & 0xF0) == 0xE0)
        return 3;
    if ((lead & 0xF8) == 0xF0)
        return 4;
    return 1;
}

} // namespace

int hexValue(int c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isValidUtf8(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t size = s.size();
    std::size_t i = 0;
    while (i < size) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t n;
        std::uint32_t cp;
        std::uint32_t minimum;
        if ((c & 0xE0) == 0xC0) {
            n = 2;
            cp = c & 0x1F;
            minimum = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            n = 3;
            cp = c & 0x0F;
            minimum = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            n = 4;
            cp = c & 0x07;
            minimum = 0x10000;
        } else {
            return false;
        }
        if (size - i < n)
            return false;
        for (std::size_t k = 1; k < n; ++k) {
            const unsigned char cc = p[i + k];
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = cp << 6 | (cc & 0x3F);
        }
        if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += n;
    }
    return true;
}

std::string padOrCutUtf16(std::string_view s, std::size_t width) {
    std::string out;
    out.reserve(width + 8);
    std::size_t units = 0;
    std::size_t i = 0;
    while (i < s.size() && units < width) {
        const std::size_t n = sequenceLength(static_cast<unsigned char>(s[i]));
        const std::size_t cost = n == 4 ? 2 : 1;
        if (units + cost > width)
            break;
        out.append(s.substr(i, n));
        units += cost;
        i += n;
    }
    out.append(width - units, ' ');
    return out;
}

LineColumn lineColumn(std::string_view text, std::size_t offset) {
    const std::string_view before = text.substr(0, std::min(offset, text.size()));
    LineColumn at;
    const std::size_t lineStart = before.rfind('\n');
    for (const char c : before)
        at.line += c == '\n';
    const std::string_view line = lineStart == std::string_view::npos ? before : before.substr(lineStart + 1);
    for (const unsigned char c : line)
        at.column += (c & 0xC0) != 0x80; // continuation bytes belong to the character before
    return at;
}

std::uint64_t fnv1a64(std::string_view s) {
    std::uint64_t hash = 1469598103934665603ull;
    for (const unsigned char c : s) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

std::string fill(std::string_view pattern, std::initializer_list<std::string_view> args) {
    std::string out;
    out.reserve(pattern.size() + 32);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size()) {
            const char next = pattern[i + 1];
            if (next == '%') {
                out += '%';
                ++i;
                continue;
            }
            if (next >= '1' && next <= '9' && static_cast<std::size_t>(next - '1') < args.size()) {
                out += *(args.begin() + (next - '1'));
                ++i;
                continue;
            }
        }
        out += pattern[i];
    }
    return out;
}

} // namespace Text
