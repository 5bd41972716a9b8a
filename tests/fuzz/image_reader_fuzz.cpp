// Arbitrary bytes as a modem image: a verdict every time, never a crash, and
// memory that does not follow the lengths the bytes claim (run with
// -malloc_limit_mb to hold it to that).
#include <algorithm>
#include <cstdlib>

#include "image/image_reader.h"

namespace {

class CountingSink final : public quarnel::PayloadSink {
public:
    int write(std::span<const std::uint8_t> bytes) override
    {
        total += bytes.size();
        return 0;
    }
    std::uint64_t total = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    quarnel::MemoryImageSource source(std::span(data, size));
    CountingSink sink;
    const quarnel::ImageReport report = quarnel::read_image(source, &sink);
    if (report.valid() &&
        (report.records.size() != 2 || sink.total != report.records[1].header.payload_length || !report.model)) {
        std::abort();
    }
    if (!report.valid() &&
        std::find(quarnel::kAllFaults.begin(), quarnel::kAllFaults.end(), report.fault) == quarnel::kAllFaults.end()) {
        std::abort();
    }
    return 0;
}
