// Little-endian fields read and written at byte offsets, and the facts of the
// layout that tests and fuzz targets check images against. Written apart
// from the program's own record structures on purpose.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "image/checksum.h"

namespace quarnel::test {

inline std::uint16_t get16(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

inline std::uint32_t get32(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return get16(bytes, at) | (static_cast<std::uint32_t>(get16(bytes, at + 2)) << 16);
}

inline void put16(std::span<std::uint8_t> bytes, std::size_t at, unsigned value)
{
    bytes[at] = static_cast<std::uint8_t>(value);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

inline void put32(std::span<std::uint8_t> bytes, std::size_t at, std::uint32_t value)
{
    put16(bytes, at, value & 0xFFFFU);
    put16(bytes, at + 2, value >> 16);
}

// The checksum of a record's 98 header bytes, its checksum field taken as zero.
inline std::uint16_t header_checksum_at(std::span<const std::uint8_t> bytes, std::size_t record)
{
    std::vector<std::uint8_t> header(bytes.begin() + static_cast<std::ptrdiff_t>(record),
                                     bytes.begin() + static_cast<std::ptrdiff_t>(record + 98));
    put16(header, 92, 0);
    return block_checksum_reference(header);
}

inline bool header_checksum_verifies(std::span<const std::uint8_t> bytes, std::size_t record)
{
    return header_checksum_at(bytes, record) == get16(bytes, record + 92);
}

// Stores a record's header checksum anew, so that a changed field is judged on its own.
inline void reseal(std::span<std::uint8_t> bytes, std::size_t record)
{
    put16(bytes, record + 92, header_checksum_at(bytes, record));
}

// Inclusive byte ranges that are zero in every modem image.
inline constexpr std::pair<std::size_t, std::size_t> kZeroRanges[] = {
    {0, 91},    {102, 103}, {112, 113}, {130, 135}, {144, 151}, {157, 183}, {188, 189},
    {244, 319}, {330, 331}, {340, 341}, {358, 363}, {372, 379}, {385, 411}, {416, 417}};

}  // namespace quarnel::test
