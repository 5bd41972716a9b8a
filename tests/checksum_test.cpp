#include <gtest/gtest.h>

#include <random>
#include <string_view>
#include <vector>

#include "image/checksum.h"

namespace quarnel {
namespace {

std::span<const std::uint8_t> as_bytes(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::vector<ChecksumImplementation> implementations_under_test()
{
    std::vector<ChecksumImplementation> all = {{"dispatching", block_checksum}, {"portable", block_checksum_portable}};
    for (const ChecksumImplementation& accelerated : accelerated_checksums()) {
        all.push_back(accelerated);
    }
    return all;
}

TEST(BlockChecksum, KnownValues)
{
    struct Case {
        std::string_view text;
        std::uint16_t expected;
    };
    // CRC-16/X-25 check value, and the empty range that leaves 0xFFFF complemented.
    for (const Case& c : {Case{"123456789", 0x906E}, Case{"", 0x0000}, Case{"A", 0xA3F5}}) {
        EXPECT_EQ(block_checksum_reference(as_bytes(c.text)), c.expected) << c.text;
        for (const ChecksumImplementation& implementation : implementations_under_test()) {
            EXPECT_EQ(implementation.function(as_bytes(c.text)), c.expected) << implementation.name << ": " << c.text;
        }
    }
}

TEST(BlockChecksum, CoversExactlyTheRangeGiven)
{
    std::vector<std::uint8_t> block(4096, 0);
    block[2048] = 0xFF;  // beyond the first sector
    const std::span<const std::uint8_t> sector(block.data(), 2048);
    EXPECT_EQ(block_checksum(sector), block_checksum(std::vector<std::uint8_t>(2048, 0)));
    EXPECT_NE(block_checksum(block), block_checksum(std::vector<std::uint8_t>(4096, 0)));
}

// One bitwise step of the CRC register, independent of every table.
std::uint16_t advance_bitwise(std::uint16_t state, std::uint8_t byte)
{
    for (int bit = 0; bit < 8; ++bit) {
        const bool carry = ((state ^ (byte >> bit)) & 1U) != 0;
        state = static_cast<std::uint16_t>((state >> 1) ^ (carry ? 0x8408 : 0));
    }
    return state;
}

// Every length up to past three blocks, from every start alignment within a
// cache line; the expected value of each length comes from one running pass.
TEST(BlockChecksum, EveryImplementationMatchesTheReference)
{
    constexpr std::size_t kMaxLength = 3 * 4096 + 300;
    constexpr std::size_t kAlignments = 64;
    std::mt19937 generator(2026);
    std::vector<std::uint8_t> data(kMaxLength + kAlignments);
    for (auto& byte : data) {
        byte = static_cast<std::uint8_t>(generator());
    }
    const auto implementations = implementations_under_test();
    std::vector<std::uint16_t> expected(kMaxLength + 1);
    for (std::size_t start = 0; start < kAlignments; ++start) {
        std::uint16_t state = 0xFFFF;
        expected[0] = static_cast<std::uint16_t>(~state);
        for (std::size_t length = 1; length <= kMaxLength; ++length) {
            state = advance_bitwise(state, data[start + length - 1]);
            expected[length] = static_cast<std::uint16_t>(~state);
        }
        // The reference reads byte by byte: one alignment is enough for it.
        if (start == 0) {
            for (std::size_t length = 0; length <= kMaxLength; ++length) {
                ASSERT_EQ(block_checksum_reference(std::span(data.data(), length)), expected[length]) << length;
            }
        }
        for (const ChecksumImplementation& implementation : implementations) {
            for (std::size_t length = 0; length <= kMaxLength; ++length) {
                ASSERT_EQ(implementation.function(std::span(data.data() + start, length)), expected[length])
                    << implementation.name << ", start " << start << ", length " << length;
            }
        }
    }
}

}  // namespace
}  // namespace quarnel
