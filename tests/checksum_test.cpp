#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "image/checksum.h"
#include "image/checksum_lanes.h"

namespace quarnel {

// Names the kernel in test names and failures.
void PrintTo(const ChecksumKernel& kernel, std::ostream* out);
void PrintTo(const ChecksumKernel& kernel, std::ostream* out) { *out << kernel.name; }

namespace {

std::span<const std::uint8_t> as_bytes(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The dispatcher, the portable implementation and every kernel built for
// this architecture; a kernel this CPU cannot run is skipped, never passed.
std::vector<ChecksumKernel> implementations_under_test()
{
    std::vector<ChecksumKernel> all = {{"dispatching", "", block_checksum, true},
                                       {"portable", "", block_checksum_portable, true}};
    const auto kernels = checksum_kernels();
    all.insert(all.end(), kernels.begin(), kernels.end());
    return all;
}

class ChecksumKernelTest : public ::testing::TestWithParam<ChecksumKernel> {
protected:
    void SetUp() override
    {
        if (!GetParam().runnable) {
            GTEST_SKIP() << "kernel " << GetParam().name << " not run: it needs " << GetParam().needs
                         << ", which this CPU lacks";
        }
    }
};

TEST(BlockChecksum, ReferenceKnownValues)
{
    // CRC-16/X-25 check value, and the empty range that leaves 0xFFFF complemented.
    EXPECT_EQ(block_checksum_reference(as_bytes("123456789")), 0x906E);
    EXPECT_EQ(block_checksum_reference(as_bytes("")), 0x0000);
    EXPECT_EQ(block_checksum_reference(as_bytes("A")), 0xA3F5);
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

constexpr std::size_t kMaxLength = 3 * 4096 + 300;
constexpr std::size_t kAlignments = 64;

std::vector<std::uint8_t> random_data()
{
    std::mt19937 generator(2026);
    std::vector<std::uint8_t> data(kMaxLength + kAlignments);
    for (auto& byte : data) {
        byte = static_cast<std::uint8_t>(generator());
    }
    return data;
}

// The expected checksum of every prefix of the data from `start`, from one running bitwise pass.
std::vector<std::uint16_t> bitwise_prefix_checksums(const std::vector<std::uint8_t>& data, std::size_t start)
{
    std::vector<std::uint16_t> expected(kMaxLength + 1);
    std::uint16_t state = 0xFFFF;
    expected[0] = static_cast<std::uint16_t>(~state);
    for (std::size_t length = 1; length <= kMaxLength; ++length) {
        state = advance_bitwise(state, data[start + length - 1]);
        expected[length] = static_cast<std::uint16_t>(~state);
    }
    return expected;
}

TEST(BlockChecksum, ReferenceMatchesTheBitwiseDefinition)
{
    const auto data = random_data();
    const auto expected = bitwise_prefix_checksums(data, 0);
    for (std::size_t length = 0; length <= kMaxLength; ++length) {
        ASSERT_EQ(block_checksum_reference(std::span(data.data(), length)), expected[length]) << length;
    }
}

// Every length up to past three blocks, from every start alignment within a cache line.
TEST_P(ChecksumKernelTest, MatchesTheBitwiseDefinitionOnEveryLengthAndAlignment)
{
    const auto data = random_data();
    for (std::size_t start = 0; start < kAlignments; ++start) {
        const auto expected = bitwise_prefix_checksums(data, start);
        for (std::size_t length = 0; length <= kMaxLength; ++length) {
            ASSERT_EQ(GetParam().function(std::span(data.data() + start, length)), expected[length])
                << "start " << start << ", length " << length;
        }
    }
}

// The byte-lane kernel on plain lanes, as the WebAssembly build runs it on
// vectors: it loads bytes one by one, so that one alignment stands for all.
TEST(BlockChecksum, ByteLanesMatchTheBitwiseDefinitionOnEveryLength)
{
    const auto data = random_data();
    const auto expected = bitwise_prefix_checksums(data, 1);
    for (std::size_t length = 0; length <= kMaxLength; ++length) {
        ASSERT_EQ(crc::checksum_with<crc::continue_lanes<crc::PlainLanes>>(std::span(data.data() + 1, length)),
                  expected[length])
            << "length " << length;
    }
}

// The table of every block, the last one short or whole, whether the blocks
// go one at a time or several at once; each entry beside untouched neighbours.
TEST(BlockChecksum, TablesMatchTheReferenceForEveryBlockSizeAndCount)
{
    using TableFunction = void (*)(std::span<const std::uint8_t>, std::uint64_t, std::span<std::uint8_t>, std::size_t);
    std::vector<std::uint8_t> data = random_data();
    while (data.size() < 9 * 4096 + 1) {
        data.insert(data.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(kMaxLength));
    }
    for (const TableFunction fill : {TableFunction{checksum_blocks}, TableFunction{checksum_blocks_portable}}) {
        for (const std::size_t block_size : {std::size_t{4096}, std::size_t{2048}, std::size_t{100}, std::size_t{7}}) {
            for (const std::size_t blocks : {1, 3, 4, 5, 9}) {
                for (const std::size_t short_by : {std::size_t{0}, std::size_t{1}, block_size - 1}) {
                    const std::span<const std::uint8_t> bytes(data.data() + 1, blocks * block_size - short_by);
                    std::vector<std::uint8_t> table(2 * (blocks + 3), 0xA5);
                    fill(bytes, 2, table, block_size);
                    for (std::size_t entry = 0; entry < blocks + 3; ++entry) {
                        std::uint16_t expected = 0xA5A5;
                        if (entry >= 2 && entry < blocks + 2) {
                            const std::size_t at = (entry - 2) * block_size;
                            expected =
                                block_checksum_reference(bytes.subspan(at, std::min(block_size, bytes.size() - at)));
                        }
                        ASSERT_EQ(table[2 * entry] | (table[2 * entry + 1] << 8), expected)
                            << "block size " << block_size << ", blocks " << blocks << ", short by " << short_by
                            << ", entry " << entry;
                    }
                }
            }
        }
    }
}

std::string test_name(const ::testing::TestParamInfo<ChecksumKernel>& info)
{
    std::string name(info.param.name);
    for (char& c : name) {
        c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Kernels, ChecksumKernelTest, ::testing::ValuesIn(implementations_under_test()), test_name);

}  // namespace
}  // namespace quarnel
