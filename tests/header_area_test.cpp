#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "image/checksum.h"
#include "image/header_area.h"
#include "support/expected_image.h"
#include "support/image_bytes.h"

namespace quarnel {
namespace {

using Area = std::vector<std::uint8_t>;

Area build(std::uint32_t source_length, ModemModel model)
{
    Area area(header_area_size(block_count_for(source_length)), 0);
    build_header_area(area, source_length, model);
    return area;
}

// Every byte of the records is MatchesTheLayoutBuiltByteByByte's to check;
// here the driver's table, already in place, must survive.
TEST(HeaderArea, WorkedExampleE220LeavesTheTableAlone)
{
    Area area(header_area_size(3), 0);
    std::fill(area.begin() + 418, area.end(), 0x5A);
    build_header_area(area, 10240, ModemModel::E220);
    ASSERT_EQ(area.size(), 424U);
    EXPECT_TRUE(std::equal(area.begin(), area.begin() + 418, build(10240, ModemModel::E220).begin()));
    EXPECT_TRUE(std::all_of(area.begin() + 418, area.end(), [](std::uint8_t b) { return b == 0x5A; }));
}

TEST(HeaderArea, DocumentedZeroRangesStayZero)
{
    for (ModemModel model : {ModemModel::Default, ModemModel::E220}) {
        for (std::uint64_t blocks : {0U, 1U, 3U, 524288U}) {
            const Area area = build(static_cast<std::uint32_t>(blocks * 4096), model);
            for (const auto& [first, last] : test::kZeroRanges) {
                for (std::size_t at = first; at <= last; ++at) {
                    ASSERT_EQ(area[at], 0) << "offset " << at << ", " << blocks << " blocks";
                }
            }
        }
    }
}

TEST(HeaderArea, MatchesTheLayoutBuiltByteByByte)
{
    for (std::uint32_t length : {0U, 2048U, 4096U, 10240U, 16384U}) {
        for (ModemModel model : {ModemModel::Default, ModemModel::E220}) {
            const std::uint64_t blocks = (length + 4095) / 4096;
            // An all-zero source's image, its checksum table cleared: the driver fills that part.
            test::Bytes expected = test::expected_image(
                test::Bytes(length, 0), model == ModemModel::E220 ? test::Model::E220 : test::Model::Default);
            expected.resize(header_area_size(blocks));
            std::fill(expected.begin() + 418, expected.end(), 0);
            EXPECT_EQ(build(length, model), expected) << length;
        }
    }
}

}  // namespace
}  // namespace quarnel
