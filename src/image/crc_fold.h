// Constants for computing the checksum by folding with a carry-less multiply
// (x86 PCLMULQDQ/VPCLMULQDQ, ARM PMULL). The message is taken as a polynomial
// over GF(2) in 128-bit lanes; each lane is multiplied forward onto a later
// one, so that only one lane is left to reduce at the end.
//
// Reflected bit order: bit j of a little-endian lane is the coefficient of
// x^(63 - j) within its 64-bit half, so a lane is L(x) x^64 + H(x) with L
// from its first eight bytes. Folding a lane forward by D bits replaces it
// with L x^(D+64) + H x^D, reduced modulo the polynomial P. A carry-less
// multiply of two reflected 64-bit operands yields their product times x,
// so each constant is the power one lower: x^(D+63) mod P for the first
// half, x^(D-1) mod P for the second, placed with x^d at bit 63 - d.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/crc_state.h"

namespace quarnel::crc {

// x^n mod P, with x^d at bit d.
constexpr std::uint16_t x_power_mod(unsigned n)
{
    std::uint32_t remainder = 1;
    for (unsigned i = 0; i < n; ++i) {
        remainder <<= 1;
        if (remainder & 0x10000U) {
            remainder ^= 0x10000U | kNormalPolynomial;
        }
    }
    return static_cast<std::uint16_t>(remainder);
}

constexpr std::uint64_t reflected_operand(std::uint16_t polynomial)
{
    std::uint64_t operand = 0;
    for (unsigned d = 0; d < 16; ++d) {
        if ((polynomial >> d) & 1U) {
            operand |= std::uint64_t{1} << (63 - d);
        }
    }
    return operand;
}

struct FoldConstants {
    std::uint64_t first_half;
    std::uint64_t second_half;
};

// Bind the result to a constexpr variable: some compilers otherwise run the loop above at run time.
constexpr FoldConstants fold_constants(unsigned distance_bits)
{
    return {reflected_operand(x_power_mod(distance_bits + 63)), reflected_operand(x_power_mod(distance_bits - 1))};
}

inline constexpr std::size_t kLaneBytes = 16;

// Folding lane j of `count` consecutive lanes onto the last one: distance (count - 1 - j) lanes.
inline constexpr FoldConstants kLaneFolds[] = {fold_constants(128), fold_constants(256), fold_constants(384)};

}  // namespace quarnel::crc
