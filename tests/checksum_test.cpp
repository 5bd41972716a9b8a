#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "image/checksum.h"

namespace quarnel {
namespace {

std::span<const std::uint8_t> as_bytes(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
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
        EXPECT_EQ(block_checksum(as_bytes(c.text)), c.expected) << c.text;
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

}  // namespace
}  // namespace quarnel
