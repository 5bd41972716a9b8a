// Arbitrary bytes as a disc's sectors from 16 on (the system area, zeros,
// comes first, and zeros follow up to a large volume, so that a corpus of a
// disc's descriptors and directories alone reaches every record): a listing
// or a fault every time, never a crash, and memory that follows the records
// read, not the lengths they claim (run with -malloc_limit_mb).
#include <algorithm>
#include <cstdlib>

#include "disc/disc_reader.h"

namespace {

class DiscSectors final : public quarnel::ImageSource {
public:
    static constexpr std::uint64_t kSystemArea = 16 * 2048;
    static constexpr std::uint64_t kLength = 64 << 20;  // the volume the records may point into
    explicit DiscSectors(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint64_t size() const override { return kLength; }
    std::int64_t read_at(std::uint64_t offset, std::span<std::uint8_t> buffer) override
    {
        std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
        if (offset >= kSystemArea && offset - kSystemArea < bytes_.size()) {
            const std::span<const std::uint8_t> rest = bytes_.subspan(offset - kSystemArea);
            std::copy_n(rest.begin(), std::min(rest.size(), buffer.size()), buffer.begin());
        }
        return static_cast<std::int64_t>(buffer.size());
    }

private:
    std::span<const std::uint8_t> bytes_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace quarnel::disc;
    DiscSectors source(std::span(data, size));
    for (const DiscNames names : {DiscNames::JolietWhereThere, DiscNames::Primary}) {
        DiscListing listing;
        DiscFault fault;
        const int status = read_disc_listing(source, 0, DiscSectors::kLength, listing, fault, names);
        // A listing of named entries, each below a folder listed before it, or a fault.
        for (std::size_t i = 0; i < listing.items.size(); ++i) {
            const std::uint32_t parent = listing.items[i].parent;
            if ((status == 0) == (fault.kind != DiscFaultKind::None) || listing.name(i).empty() ||
                listing.path(i).size() > kMaxListedPathBytes ||
                (parent != kInRoot && (parent >= i || !listing.items[parent].directory))) {
                std::abort();
            }
        }
    }
    return 0;
}
