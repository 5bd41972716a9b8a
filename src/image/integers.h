// Little-endian integers of fixed width, stored as bytes so that a record
// laid out as a struct of them has no padding and no host byte order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace quarnel {

template <typename T, std::size_t N> class LittleEndian {
public:
    constexpr LittleEndian() = default;
    constexpr explicit LittleEndian(T value) { *this = value; }

    constexpr LittleEndian& operator=(T value)
    {
        for (std::size_t i = 0; i < N; ++i) {
            bytes_[i] = static_cast<std::uint8_t>(value >> (8 * i));
        }
        return *this;
    }

    constexpr operator T() const  // NOLINT(google-explicit-constructor)
    {
        T value = 0;
        for (std::size_t i = 0; i < N; ++i) {
            value = static_cast<T>(value | static_cast<T>(static_cast<T>(bytes_[i]) << (8 * i)));
        }
        return value;
    }

private:
    std::array<std::uint8_t, N> bytes_{};
};

using ul16 = LittleEndian<std::uint16_t, 2>;
using ul32 = LittleEndian<std::uint32_t, 4>;

static_assert(sizeof(ul16) == 2 && alignof(ul16) == 1);
static_assert(sizeof(ul32) == 4 && alignof(ul32) == 1);

inline void store_ul16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value)
{
    bytes[offset] = static_cast<std::uint8_t>(value);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

inline std::uint16_t load_ul16(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

}  // namespace quarnel
