#include "base/Base64.h"

#include <array>
#include <cstdint>

namespace Base64 {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::int8_t, 256> makeTable() {
    std::array<std::int8_t, 256> t{};
    for (auto& v : t)
        v = -1;
    for (int i = 0; i < 64; ++i)
        t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
    return t;
}
constexpr auto kTable = makeTable();

} // namespace

std::string encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t v = static_cast<std::uint8_t>(bytes[i]) << 16 |
                                static_cast<std::uint8_t>(bytes[i + 1]) << 8 |
                                static_cast<std::uint8_t>(bytes[i + 2]);
        out.push_back(kAlphabet[v >> 18 & 63]);
        out.push_back(kAlphabet[v >> 12 & 63]);
        out.push_back(kAlphabet[v >> 6 & 63]);
        out.push_back(kAlphabet[v & 63]);
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        std::uint32_t v = static_cast<std::uint8_t>(bytes[i]) << 16;
        if (rest == 2)
            v |= static_cast<std::uint8_t>(bytes[i + 1]) << 8;
        out.push_back(kAlphabet[v >> 18 & 63]);
        out.push_back(kAlphabet[v >> 12 & 63]);
        out.push_back(rest == 2 ? kAlphabet[v >> 6 & 63] : '=');
        out.push_back('=');
    }
    return out;
}

std::optional<std::string> decode(std::string_view text) {
    if (text.size() % 4 != 0)
        return std::nullopt;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int pad = 0;
        if (last) {
            if (text[i + 3] == '=')
                pad = text[i + 2] == '=' ? 2 : 1;
        }
        std::uint32_t v = 0;
        for (int k = 0; k < 4 - pad; ++k) {
            const std::int8_t d = kTable[static_cast<unsigned char>(text[i + k])];
            if (d < 0)
                return std::nullopt;
            v |= static_cast<std::uint32_t>(d) << (18 - 6 * k);
        }
        out.push_back(static_cast<char>(v >> 16 & 0xFF));
        if (pad < 2)
            out.push_back(static_cast<char>(v >> 8 & 0xFF));
        if (pad < 1)
            out.push_back(static_cast<char>(v & 0xFF));
    }
    return out;
}

} // namespace Base64
