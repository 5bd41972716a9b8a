// Arbitrary lengths within the format's limits and either model: both header
// checksums verify, the lengths match and every byte meant to be zero is.
#include <cstdlib>
#include <vector>

#include "image/checksum.h"
#include "image/header_area.h"

namespace {

std::uint32_t u32_at(const std::vector<std::uint8_t>& area, std::size_t at)
{
    return area[at] | (area[at + 1] << 8) | (area[at + 2] << 16) | (static_cast<std::uint32_t>(area[at + 3]) << 24);
}

bool header_checksum_verifies(std::vector<std::uint8_t> area, std::size_t record)
{
    const auto stored = static_cast<std::uint16_t>(area[record + 92] | (area[record + 93] << 8));
    area[record + 92] = area[record + 93] = 0;
    return quarnel::block_checksum_reference(std::span(area.data() + record, 98)) == stored;
}

void require(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 5) {
        return 0;
    }
    const std::uint32_t raw = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<std::uint32_t>(data[3]) << 24);
    const auto length = static_cast<std::uint32_t>(raw % (quarnel::kMaxSourceLength + 1));
    const auto model = (data[4] & 1) ? quarnel::ModemModel::E220 : quarnel::ModemModel::Default;
    const std::uint64_t blocks = quarnel::block_count_for(length);

    std::vector<std::uint8_t> area(quarnel::header_area_size(blocks), 0);
    quarnel::build_header_area(area, blocks, length, model);

    require(header_checksum_verifies(area, 92) && header_checksum_verifies(area, 320));
    require(u32_at(area, 324) == 98 + 2 * blocks && u32_at(area, 344) == length);
    require(u32_at(area, 96) == 100 && u32_at(area, 116) == 128);
    const std::pair<std::size_t, std::size_t> zero_ranges[] = {
        {0, 91},    {102, 103}, {112, 113}, {130, 135}, {144, 151}, {157, 183}, {188, 189},
        {244, 319}, {330, 331}, {340, 341}, {358, 363}, {372, 379}, {385, 411}, {416, 417}};
    for (const auto& [first, last] : zero_ranges) {
        for (std::size_t at = first; at <= last; ++at) {
            require(area[at] == 0);
        }
    }
    for (std::size_t at = quarnel::kImageTableOffset; at < area.size(); ++at) {
        require(area[at] == 0);  // the table is the driver's to fill
    }
    return 0;
}
