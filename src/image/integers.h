// Integers of fixed width and byte order, stored as bytes, so that a record
// laid out as a struct of them has no padding and no host byte order, and a
// field inside a byte buffer is read or written through the same type.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace quarnel {

enum class ByteOrder { Little, Big };

template <typename T, ByteOrder Order> class Integer {
public:
    using Value = T;

    constexpr Integer() = default;
    constexpr explicit Integer(T value) { *this = value; }

    constexpr Integer& operator=(T value)
    {
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            bytes_[i] = static_cast<std::uint8_t>(value >> shift(i));
        }
        return *this;
    }

    constexpr operator T() const  // NOLINT(google-explicit-constructor)
    {
        T value = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            value = static_cast<T>(value | static_cast<T>(static_cast<T>(bytes_[i]) << shift(i)));
        }
        return value;
    }

private:
    // The bit position of the value's part that byte `i` holds.
    static constexpr std::size_t shift(std::size_t i)
    {
        return 8 * (Order == ByteOrder::Little ? i : sizeof(T) - 1 - i);
    }

    std::array<std::uint8_t, sizeof(T)> bytes_{};
};

using ul16 = Integer<std::uint16_t, ByteOrder::Little>;
using ul32 = Integer<std::uint32_t, ByteOrder::Little>;
using ub16 = Integer<std::uint16_t, ByteOrder::Big>;
using ub32 = Integer<std::uint32_t, ByteOrder::Big>;

static_assert(sizeof(ul16) == 2 && alignof(ul16) == 1);
static_assert(sizeof(ul32) == 4 && alignof(ul32) == 1);

// The integer of type Int (ul16, ub32, ...) that starts at `offset` in `bytes`.
template <typename Int> typename Int::Value load(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    Int stored;
    std::memcpy(&stored, bytes.subspan(offset, sizeof(Int)).data(), sizeof(Int));
    return stored;
}

// Writes `value` as an integer of type Int at `offset` in `bytes`.
template <typename Int> void store(std::span<std::uint8_t> bytes, std::size_t offset, typename Int::Value value)
{
    const Int stored(value);
    std::memcpy(bytes.subspan(offset, sizeof(Int)).data(), &stored, sizeof(Int));
}

}  // namespace quarnel
