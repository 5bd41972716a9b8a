// Building blocks shared by the checksum implementations. A "state" is the
// CRC register before the final complement, so that a range can be taken in
// pieces: state = continue_sliced(state, next piece).
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace quarnel::crc {

inline constexpr std::uint16_t kReflectedPolynomial = 0x8408;
inline constexpr std::uint16_t kNormalPolynomial = 0x1021;  // x^16 + x^12 + x^5 + 1, x^16 implied
inline constexpr std::uint16_t kInitialState = 0xFFFF;

inline constexpr std::uint16_t finish(std::uint16_t state) { return static_cast<std::uint16_t>(~state); }

// Slicing tables: table[0] advances a byte; table[k] advances a byte followed by k more.
inline constexpr std::size_t kSlices = 16;
using SlicingTables = std::array<std::array<std::uint16_t, 256>, kSlices>;

constexpr SlicingTables make_slicing_tables()
{
    SlicingTables tables{};
    for (unsigned i = 0; i < 256; ++i) {
        auto entry = static_cast<std::uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit) {
            entry = static_cast<std::uint16_t>((entry & 1U) ? (entry >> 1) ^ kReflectedPolynomial : entry >> 1);
        }
        tables[0][i] = entry;
    }
    for (std::size_t k = 1; k < kSlices; ++k) {
        for (unsigned i = 0; i < 256; ++i) {
            const std::uint16_t previous = tables[k - 1][i];
            tables[k][i] = static_cast<std::uint16_t>((previous >> 8) ^ tables[0][previous & 0xFFU]);
        }
    }
    return tables;
}

inline constexpr SlicingTables kTables = make_slicing_tables();

std::uint16_t continue_bytewise(std::uint16_t state, std::span<const std::uint8_t> bytes);
std::uint16_t continue_sliced(std::uint16_t state, std::span<const std::uint8_t> bytes);

// The checksum of `bytes` as the state-taking implementation Continue computes it.
template <std::uint16_t (*Continue)(std::uint16_t, std::span<const std::uint8_t>)>
std::uint16_t checksum_with(std::span<const std::uint8_t> bytes)
{
    return finish(Continue(kInitialState, bytes));
}

}  // namespace quarnel::crc
