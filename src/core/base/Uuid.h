#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A 128-bit identifier in the canonical 8-4-4-4-12 hexadecimal text form.
class Uuid {
public:
    Uuid() = default; // all zero
    explicit Uuid(const std::array<std::uint8_t, 16>& bytes)
        : m_bytes(bytes) {}

    // A fresh random (version 4) identifier.
    static Uuid random();
    // Parses the canonical form in either letter case; anything else gives none.
    static std::optional<Uuid> parse(std::string_view text);

    // Upper-case canonical text, e.g. "E621E1F8-C36C-495A-93FC-0C247A3E6E5F".
    std::string toString() const;
    const std::array<std::uint8_t, 16>& bytes() const { return m_bytes; }

    friend auto operator<=>(const Uuid&, const Uuid&) = default;

private:
    std::array<std::uint8_t, 16> m_bytes{};
};

template <>
struct std::hash<Uuid> {
    std::size_t operator()(const Uuid& u) const noexcept;
};
