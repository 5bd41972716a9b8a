#include "convert/trailing_checksums.h"

#include <algorithm>
#include <system_error>

#include "image/checksum.h"
#include "image/record_header.h"
#include "io/copy.h"
#include "io/interrupt.h"

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

TrailingChecksums::~TrailingChecksums() { stop(); }

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
        std::uint64_t block_index = from / kBlockSize;
        for (std::size_t at = 0; at < length; at += kBlockSize) {
            const std::size_t block_length = std::min<std::size_t>(kBlockSize, length - at);
            store_ul16(checksum_table_, kTableEntrySize * block_index++,
                       block_checksum(data.subspan(at, block_length)));
        }
        from += length;
    }
    return 0;
}

void TrailingChecksums::landed(std::uint64_t end)
{
    if (!started_) {
        started_ = true;
        // The thread inherits the held signals: interruptions reach the main thread.
        const InterruptsHeld held;
        try {
            worker_ = std::thread(&TrailingChecksums::trail, this);
        } catch (const std::system_error&) {
            // No thread to be had: the waits checksum on this one.
        }
    }
    const std::lock_guard lock(mutex_);
    landed_ = end;
    changed_.notify_all();
}

void TrailingChecksums::trail() noexcept
{
    for (;;) {
        std::uint64_t from = 0;
        std::uint64_t to = 0;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stopping_ || checkable(landed_) > checked_; });
            if (stopping_) {
                return;
            }
            from = checked_;
            to = std::min(checkable(landed_), from + kReadBackSize);
        }
        const int result = check(from, to);
        const std::lock_guard lock(mutex_);
        if (result != 0) {
            failed_ = true;
            changed_.notify_all();
            return;
        }
        checked_ = to;
        changed_.notify_all();
    }
}

int TrailingChecksums::wait_until_checked(std::uint64_t end)
{
    const std::uint64_t target = checkable(end);
    if (!worker_.joinable()) {
        if (checked_ >= target) {
            return 0;
        }
        const int result = check(checked_, target);
        checked_ = target;
        return result;
    }
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return failed_ || checked_ >= target; });
    return failed_ ? -1 : 0;
}

int TrailingChecksums::finish(std::uint64_t end)
{
    const int result = wait_until_checked(end);
    stop();
    return result;
}

void TrailingChecksums::stop()
{
    if (!worker_.joinable()) {
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        changed_.notify_all();
    }
    worker_.join();
}

}  // namespace quarnel
