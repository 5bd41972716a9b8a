// The block checksum of the modem image: CRC-16/X-25 (reflected polynomial
// 0x8408, initial value 0xFFFF, final complement). Check value: 0x906E.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace quarnel {

using ChecksumFunction = std::uint16_t (*)(std::span<const std::uint8_t> bytes);

// The fastest implementation this CPU offers, chosen on first use.
std::uint16_t block_checksum(std::span<const std::uint8_t> bytes);

// One table lookup per byte: the definition every other implementation is tested against.
std::uint16_t block_checksum_reference(std::span<const std::uint8_t> bytes);

// Slicing by 16 tables; runs anywhere.
std::uint16_t block_checksum_portable(std::span<const std::uint8_t> bytes);

struct ChecksumImplementation {
    std::string_view name;
    ChecksumFunction function;
};

// The carry-less-multiply implementations this CPU can run, fastest first.
std::span<const ChecksumImplementation> accelerated_checksums();

}  // namespace quarnel
