// The block checksum of the modem image: CRC-16/X-25 (reflected polynomial
// 0x8408, initial value 0xFFFF, final complement). Check value: 0x906E.
#pragma once

#include <cstdint>
#include <span>

namespace quarnel {

// The fastest implementation this CPU offers.
std::uint16_t block_checksum(std::span<const std::uint8_t> bytes);

// One table lookup per byte: the definition every other implementation is tested against.
std::uint16_t block_checksum_reference(std::span<const std::uint8_t> bytes);

}  // namespace quarnel
