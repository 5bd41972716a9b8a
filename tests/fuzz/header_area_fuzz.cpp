// Arbitrary lengths within the format's limits and either model: both header
// checksums verify, the lengths match and every byte meant to be zero is.
#include <cstdlib>
#include <vector>

#include "image/checksum.h"
#include "image/header_area.h"
#include "support/image_bytes.h"

namespace {

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
    quarnel::build_header_area(area, length, model);

    using quarnel::test::get32;
    using quarnel::test::header_checksum_verifies;
    require(header_checksum_verifies(area, 92) && header_checksum_verifies(area, 320));
    require(get32(area, 324) == 98 + 2 * blocks && get32(area, 344) == length);
    require(get32(area, 96) == 100 && get32(area, 116) == 128);
    for (const auto& [first, last] : quarnel::test::kZeroRanges) {
        for (std::size_t at = first; at <= last; ++at) {
            require(area[at] == 0);
        }
    }
    for (std::size_t at = quarnel::kImageTableOffset; at < area.size(); ++at) {
        require(area[at] == 0);  // the table is the driver's to fill
    }
    return 0;
}
