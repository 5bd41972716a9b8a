#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "image/header_area.h"
#include "support/expected_image.h"

namespace quarnel {
namespace {

// Every byte of the records is the whole image's to check (CopyPaths.SameImageForEveryLengthAndModel);
// here the driver's table, already in place, must survive.
TEST(HeaderArea, WorkedExampleE220LeavesTheTableAlone)
{
    std::vector<std::uint8_t> area(header_area_size(3), 0);
    std::fill(area.begin() + 418, area.end(), 0x5A);
    build_header_area(area, 10240, ModemModel::E220);
    ASSERT_EQ(area.size(), 424U);
    const test::Bytes expected = test::expected_image(test::Bytes(10240, 0), test::Model::E220);
    EXPECT_TRUE(std::equal(area.begin(), area.begin() + 418, expected.begin()));
    EXPECT_TRUE(std::all_of(area.begin() + 418, area.end(), [](std::uint8_t b) { return b == 0x5A; }));
}

}  // namespace
}  // namespace quarnel
