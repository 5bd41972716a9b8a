#include "image/checksum.h"

#include <algorithm>
#include <array>

#include "image/crc_state.h"
#include "image/integers.h"

namespace quarnel {
namespace crc {

std::uint16_t continue_bytewise(std::uint16_t state, std::span<const std::uint8_t> bytes)
{
    for (std::uint8_t byte : bytes) {
        // cppcheck-suppress useStlAlgorithm ; the register update reads best as the loop it is
        state = static_cast<std::uint16_t>(kTables[0][(state ^ byte) & 0xFFU] ^ (state >> 8));
    }
    return state;
}

namespace {

// The state after the group of kSlices bytes at `p`: the state covers the
// first two bytes; every byte then advances through the bytes that follow it.
inline std::uint16_t advance_group(std::uint16_t state, const std::uint8_t* p)
{
    std::uint16_t next = 0;
    for (std::size_t i = 0; i < kSlices; ++i) {
        std::uint8_t byte = p[i];
        if (i < 2) {
            byte = static_cast<std::uint8_t>(byte ^ (state >> (8 * i)));
        }
        next ^= kTables[kSlices - 1 - i][byte];
    }
    return next;
}

}  // namespace

std::uint16_t continue_sliced(std::uint16_t state, std::span<const std::uint8_t> bytes)
{
    const std::uint8_t* p = bytes.data();
    std::size_t left = bytes.size();
    for (; left >= kSlices; left -= kSlices, p += kSlices) {
        state = advance_group(state, p);
    }
    return continue_bytewise(state, {p, left});
}

}  // namespace crc

std::uint16_t block_checksum_reference(std::span<const std::uint8_t> bytes)
{
    return crc::checksum_with<crc::continue_bytewise>(bytes);
}

std::uint16_t block_checksum_portable(std::span<const std::uint8_t> bytes)
{
    return crc::checksum_with<crc::continue_sliced>(bytes);
}

#if !defined(__x86_64__) && !defined(__aarch64__)
// Other architectures have the portable implementation alone; the page's SIMD
// module links its kernel in place of this one (checksum_wasm.cpp).
[[gnu::weak]] std::span<const ChecksumKernel> checksum_kernels() { return {}; }
#endif

namespace {

// The fastest kernel this CPU runs, or the portable implementation where none does: chosen once, on first use.
ChecksumFunction chosen_checksum()
{
    static const ChecksumFunction chosen = [] {
        const auto kernels = checksum_kernels();
        const auto fastest = std::find_if(kernels.begin(), kernels.end(), [](const auto& k) { return k.runnable; });
        return fastest == kernels.end() ? block_checksum_portable : fastest->function;
    }();
    return chosen;
}

}  // namespace

std::uint16_t block_checksum(std::span<const std::uint8_t> bytes) { return chosen_checksum()(bytes); }

void checksum_blocks_portable(std::span<const std::uint8_t> data, std::uint64_t first_block,
                              std::span<std::uint8_t> table, std::size_t block_size)
{
    // Whole blocks kInterleaved at a time: their states are independent, so
    // advancing them in one loop keeps several lookups in flight.
    constexpr std::size_t kInterleaved = 4;
    std::uint64_t entry = first_block;
    std::size_t at = 0;
    for (; data.size() - at >= kInterleaved * block_size; at += kInterleaved * block_size) {
        const std::uint8_t* first = data.data() + at;
        std::array<std::uint16_t, kInterleaved> states{};
        states.fill(crc::kInitialState);
        std::size_t done = 0;
        for (; block_size - done >= crc::kSlices; done += crc::kSlices) {
            for (std::size_t b = 0; b < kInterleaved; ++b) {
                states[b] = crc::advance_group(states[b], first + b * block_size + done);
            }
        }
        for (std::size_t b = 0; b < kInterleaved; ++b) {
            const std::uint16_t state =
                crc::continue_bytewise(states[b], {first + b * block_size + done, block_size - done});
            store<ul16>(table, static_cast<std::size_t>(kTableEntrySize * entry++), crc::finish(state));
        }
    }
    for (; at < data.size(); at += block_size) {
        const std::uint16_t checksum =
            block_checksum_portable(data.subspan(at, std::min(block_size, data.size() - at)));
        store<ul16>(table, static_cast<std::size_t>(kTableEntrySize * entry++), checksum);
    }
}

void checksum_blocks(std::span<const std::uint8_t> data, std::uint64_t first_block, std::span<std::uint8_t> table,
                     std::size_t block_size)
{
    const ChecksumFunction chosen = chosen_checksum();
    if (chosen == block_checksum_portable) {
        checksum_blocks_portable(data, first_block, table, block_size);
        return;
    }
    std::uint64_t entry = first_block;
    for (std::size_t at = 0; at < data.size(); at += block_size) {
        const std::uint16_t checksum = chosen(data.subspan(at, std::min(block_size, data.size() - at)));
        store<ul16>(table, static_cast<std::size_t>(kTableEntrySize * entry++), checksum);
    }
}

}  // namespace quarnel
