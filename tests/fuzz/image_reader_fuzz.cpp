// Arbitrary bytes as a modem image: a verdict every time, never a crash, and
// memory that does not follow the lengths the bytes claim (run with
// -malloc_limit_mb to hold it to that). The same bytes also go to the disc
// parser as the descriptors of a payload, after its 16 sectors of system area.
#include <algorithm>
#include <cstdlib>

#include "image/disc_volume.h"
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

// Zeros for the system area, then the fuzzer's bytes from sector 16 on.
class AfterSystemArea final : public quarnel::ImageSource {
public:
    static constexpr std::uint64_t kSystemArea = 16 * 2048;
    explicit AfterSystemArea(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint64_t size() const override { return kSystemArea + bytes_.size(); }
    std::int64_t read_at(std::uint64_t offset, std::span<std::uint8_t> buffer) override
    {
        std::size_t done = 0;
        for (; done < buffer.size() && offset + done < size(); ++done) {
            const std::uint64_t at = offset + done;
            buffer[done] = at < kSystemArea ? 0 : bytes_[at - kSystemArea];
        }
        return static_cast<std::int64_t>(done);
    }

private:
    std::span<const std::uint8_t> bytes_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    quarnel::MemoryImageSource source(std::span(data, size));
    CountingSink sink;
    const quarnel::ImageReport report = quarnel::read_image(source, &sink);
    if (report.valid() &&
        (report.records.size() != 2 || sink.total != report.records[1].header.payload_length || !report.model ||
         !report.disc || (report.disc->iso9660 && report.disc->volume_bytes() > sink.total))) {
        std::abort();
    }
    if (!report.valid() &&
        std::find(quarnel::kAllFaults.begin(), quarnel::kAllFaults.end(), report.fault) == quarnel::kAllFaults.end()) {
        std::abort();
    }
    if ((report.fault == quarnel::ImageFault::UnexpectedField) != report.deviation.has_value()) {
        std::abort();
    }

    AfterSystemArea payload(std::span(data, size));
    quarnel::DiscVolume volume;
    if (quarnel::read_disc_volume(payload, 0, payload.size(), volume) != 0 ||
        (!volume.iso9660 && !volume.volume_identifier.empty()) || volume.volume_identifier.size() > 32) {
        std::abort();
    }
    return 0;
}
