#include "image/checksum.h"

#include <array>

namespace quarnel {
namespace {

constexpr std::uint16_t kReflectedPolynomial = 0x8408;
constexpr std::uint16_t kInitialValue = 0xFFFF;

constexpr std::array<std::uint16_t, 256> make_table()
{
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        auto entry = static_cast<std::uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit) {
            entry = static_cast<std::uint16_t>((entry & 1U) ? (entry >> 1) ^ kReflectedPolynomial : entry >> 1);
        }
        table[i] = entry;
    }
    return table;
}

constexpr auto kTable = make_table();

}  // namespace

std::uint16_t block_checksum_reference(std::span<const std::uint8_t> bytes)
{
    std::uint16_t crc = kInitialValue;
    for (std::uint8_t byte : bytes) {
        crc = static_cast<std::uint16_t>(kTable[(crc ^ byte) & 0xFFU] ^ (crc >> 8));
    }
    return static_cast<std::uint16_t>(~crc);
}

std::uint16_t block_checksum(std::span<const std::uint8_t> bytes)
{
    return block_checksum_reference(bytes);
}

}  // namespace quarnel
