#include "convert/trailing_checksums.h"

#include <algorithm>

#include "image/checksum.h"
#include "image/record_header.h"
#include "platform/copy.h"

namespace quarnel {
namespace {

// Small enough to stay in the core's own cache between the read and the checksum.
constexpr std::size_t kReadBackSize = std::size_t{256} << 10;
static_assert(kReadBackSize % kBlockSize == 0);

}  // namespace

TrailingChecksums::TrailingChecksums(const FileHandle& destination, std::uint64_t payload_offset,
                                     std::uint64_t payload_length, std::span<std::uint8_t> checksum_table)
    : destination_(destination), payload_offset_(payload_offset), payload_length_(payload_length),
      checksum_table_(checksum_table), buffer_(kReadBackSize)
{
}

std::uint64_t TrailingChecksums::checkable(std::uint64_t end) const
{
    return end >= payload_length_ ? payload_length_ : end / kBlockSize * kBlockSize;
}

int TrailingChecksums::check(std::uint64_t from, std::uint64_t to) noexcept
{
    while (from < to) {
        const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(kReadBackSize, to - from));
        const std::span<std::uint8_t> data(buffer_.data(), length);
        if (read_at(destination_, payload_offset_ + from, data) != static_cast<std::int64_t>(length)) {
            return -1;
        }
        checksum_blocks(data, from / kBlockSize, checksum_table_);
        from += length;
    }
    return 0;
}

void TrailingChecksums::landed(std::uint64_t end)
{
    if (!started_) {
        started_ = true;
        // Where no thread can be had, the waits checksum on this one.
        static_cast<void>(worker_.start([this] { trail(); }));
    }
    worker_.update([&] { landed_ = end; });
}

void TrailingChecksums::trail() noexcept
{
    for (;;) {
        std::uint64_t from = 0;
        std::uint64_t to = 0;
        const auto next_range = [&] {
            from = checked_;
            to = std::min(checkable(landed_), from + kReadBackSize);
            return to > from;
        };
        if (!worker_.wait(next_range)) {
            return;
        }
        const bool read = check(from, to) == 0;
        worker_.update([&] {
            if (read) {
                checked_ = to;
            } else {
                failed_ = true;
            }
        });
        if (!read) {
            return;
        }
    }
}

int TrailingChecksums::wait_until_checked(std::uint64_t end)
{
    const std::uint64_t target = checkable(end);
    if (!worker_.running()) {
        if (checked_ >= target) {
            return 0;
        }
        const int result = check(checked_, target);
        checked_ = target;
        return result;
    }
    bool failed = false;
    static_cast<void>(worker_.wait([&] {
        failed = failed_;
        return failed || checked_ >= target;
    }));
    return failed ? -1 : 0;
}

int TrailingChecksums::finish(std::uint64_t end)
{
    const int result = wait_until_checked(end);
    worker_.stop();
    return result;
}

}  // namespace quarnel
