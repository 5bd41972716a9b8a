// CRC-16 on sixteen byte lanes at once, for vector units that look up bytes
// in a 16-entry table, lane by lane (WebAssembly's swizzle), but cannot
// multiply without carry. Lane k keeps the state of bytes k, k + 16, k + 32,
// ... of the range. A step takes kStepVectors vectors of 16 bytes: it
// advances each lane's 16-bit state past all of them at once (a linear map,
// looked up a nibble at a time: eight lookups) and adds each vector in,
// advanced past the vectors after it (a byte a lane: four lookups), the last
// as it is. So the state's eight lookups are paid once a step, not once a
// vector. The sixteen states, as bytes, then checksum to the range's state.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "image/crc_state.h"

namespace quarnel::crc {

inline constexpr std::size_t kLanes = 16;
using NibbleTable = std::array<std::uint8_t, kLanes>;

// The state after `zeros` zero bytes: a linear map of the state before.
constexpr std::uint16_t advance_zeros(std::uint16_t state, std::size_t zeros)
{
    for (std::size_t i = 0; i < zeros; ++i) {
        state = static_cast<std::uint16_t>((state >> 8) ^ kTables[0][state & 0xFFU]);
    }
    return state;
}

// advance_zeros(·, zeros) a nibble at a time: table 2n + h gives byte h of
// the image of nibble n (bits 4n to 4n + 3) of the state. A byte's image
// needs the first four alone.
using AdvanceTables = std::array<NibbleTable, 8>;
constexpr AdvanceTables make_lane_tables(std::size_t zeros)
{
    AdvanceTables tables{};
    for (unsigned nibble = 0; nibble < 4; ++nibble) {
        for (unsigned value = 0; value < kLanes; ++value) {
            const std::uint16_t image = advance_zeros(static_cast<std::uint16_t>(value << (4 * nibble)), zeros);
            tables[2 * nibble][value] = static_cast<std::uint8_t>(image & 0xFFU);
            tables[2 * nibble + 1][value] = static_cast<std::uint8_t>(image >> 8);
        }
    }
    return tables;
}

// Vectors a step takes: eight make 4.5 lookups per 16 bytes (sixteen would
// still make 4.25).
inline constexpr std::size_t kStepVectors = 8;
// Entry d - 1 advances a lane by d vectors (16 d bytes), d from 1 to kStepVectors.
using StepTables = std::array<AdvanceTables, kStepVectors>;
inline constexpr StepTables kStepTables = [] {
    StepTables tables{};
    for (std::size_t d = 1; d <= kStepVectors; ++d) {
        tables[d - 1] = make_lane_tables(d * kLanes);
    }
    return tables;
}();

// The operations on kLanes bytes that the kernel needs, one lane at a time:
// the definition a vector unit's version must agree with.
struct PlainLanes {
    using Type = NibbleTable;

    static Type load(const std::uint8_t* p)
    {
        Type v{};
        std::copy_n(p, kLanes, v.begin());
        return v;
    }
    static void store(std::uint8_t* p, const Type& v) { std::copy(v.begin(), v.end(), p); }
    static Type zero() { return {}; }
    // The state's bytes added to the first two lanes.
    static Type with_state(Type v, std::uint16_t state)
    {
        v[0] ^= static_cast<std::uint8_t>(state & 0xFFU);
        v[1] ^= static_cast<std::uint8_t>(state >> 8);
        return v;
    }
    static Type table(const NibbleTable& entries) { return entries; }
    // Each lane's entry of `table`, `index` below kLanes.
    static Type lookup(const Type& table, const Type& index)
    {
        Type v{};
        std::transform(index.begin(), index.end(), v.begin(), [&](std::uint8_t i) { return table[i]; });
        return v;
    }
    static Type low_nibbles(Type v)
    {
        std::transform(v.begin(), v.end(), v.begin(), [](std::uint8_t b) { return b & 0x0FU; });
        return v;
    }
    static Type high_nibbles(Type v)
    {
        std::transform(v.begin(), v.end(), v.begin(), [](std::uint8_t b) { return b >> 4; });
        return v;
    }
    static Type sum(Type a, const Type& b)
    {
        std::transform(a.begin(), a.end(), b.begin(), a.begin(), [](std::uint8_t x, std::uint8_t y) { return x ^ y; });
        return a;
    }
};

// Lanes' 16-bit states, their low and high bytes apart.
template <class V> struct LaneStates {
    V low;
    V high;
};

template <class Lanes, class V = typename Lanes::Type> LaneStates<V> sum(const LaneStates<V>& a, const LaneStates<V>& b)
{
    return {Lanes::sum(a.low, b.low), Lanes::sum(a.high, b.high)};
}

// The image of a byte a lane under four of an AdvanceTables' tables (as
// Lanes' tables): 0 to 3 for the state's low byte, 4 to 7 for its high byte.
template <class Lanes, class V = typename Lanes::Type> LaneStates<V> advance_byte(std::span<const V, 4> t, V byte)
{
    const V n0 = Lanes::low_nibbles(byte);
    const V n1 = Lanes::high_nibbles(byte);
    return {Lanes::sum(Lanes::lookup(t[0], n0), Lanes::lookup(t[2], n1)),
            Lanes::sum(Lanes::lookup(t[1], n0), Lanes::lookup(t[3], n1))};
}

// Each lane's state advanced by `t`: the images of its two bytes, summed.
template <class Lanes, class V = typename Lanes::Type>
LaneStates<V> advance_state(const std::array<V, 8>& t, const LaneStates<V>& state)
{
    const std::span<const V, 8> all(t);
    return sum<Lanes>(advance_byte<Lanes>(all.template first<4>(), state.low),
                      advance_byte<Lanes>(all.template last<4>(), state.high));
}

// `tables` is kStepTables, or a copy of it, which a kernel reads as data.
template <class Lanes, const StepTables& tables = kStepTables>
std::uint16_t continue_lanes(std::uint16_t state, std::span<const std::uint8_t> bytes)
{
    using V = typename Lanes::Type;
    if (bytes.size() < 2 * kLanes) {
        return continue_sliced(state, bytes);
    }
    std::array<std::array<V, 8>, kStepVectors> t{};
    for (std::size_t d = 0; d < kStepVectors; ++d) {
        std::transform(tables[d].begin(), tables[d].end(), t[d].begin(), [](const auto& e) { return Lanes::table(e); });
    }
    const std::uint8_t* p = bytes.data();
    const std::uint8_t* const end = p + bytes.size() / kLanes * kLanes;
    // The state enters as the first two bytes (as in advance_group).
    LaneStates<V> lanes{Lanes::with_state(Lanes::load(p), state), Lanes::zero()};
    p += kLanes;
    // Vector v of a step is followed by kStepVectors - 1 - v more.
    for (; static_cast<std::size_t>(end - p) >= kStepVectors * kLanes; p += kStepVectors * kLanes) {
        lanes = advance_state<Lanes>(t[kStepVectors - 1], lanes);
        for (std::size_t v = 0; v + 1 < kStepVectors; ++v) {
            const std::span<const V, 8> after(t[kStepVectors - 2 - v]);
            lanes = sum<Lanes>(lanes, advance_byte<Lanes>(after.template first<4>(), Lanes::load(p + v * kLanes)));
        }
        lanes.low = Lanes::sum(lanes.low, Lanes::load(p + (kStepVectors - 1) * kLanes));
    }
    for (; p != end; p += kLanes) {
        lanes = advance_state<Lanes>(t[0], lanes);
        lanes.low = Lanes::sum(lanes.low, Lanes::load(p));
    }
    // Lane k's state still lacks 16 - k bytes: its low byte is byte k of a
    // 16-byte range from state 0, its high byte byte k of a 15-byte one (one
    // byte moves it to the low byte); their sum is the range's state.
    std::array<std::uint8_t, kLanes> lows{};
    std::array<std::uint8_t, kLanes> highs{};
    Lanes::store(lows.data(), lanes.low);
    Lanes::store(highs.data(), lanes.high);
    const auto combined = static_cast<std::uint16_t>(
        continue_sliced(0, lows) ^ continue_sliced(0, std::span(highs).first(kLanes - 1)) ^ highs[kLanes - 1]);
    return continue_sliced(combined, {end, bytes.data() + bytes.size()});
}

}  // namespace quarnel::crc
