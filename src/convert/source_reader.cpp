#include "convert/source_reader.h"

#include <algorithm>
#include <system_error>

#include "image/checksum.h"
#include "image/record_header.h"
#include "io/copy.h"
#include "io/interrupt.h"

namespace quarnel {
namespace {

// Large sequential reads and writes, a whole number of checksum blocks; small
// enough that a chunk is still in the cache when it is written out.
constexpr std::size_t kChunkSize = std::size_t{1} << 20;
static_assert(kChunkSize % kBlockSize == 0);

}  // namespace

SourceReader::SourceReader(const FileHandle& source, std::uint64_t source_length,
                           std::span<std::uint8_t> checksum_table, std::uint64_t start_offset)
    : source_(source), source_length_(source_length), start_offset_(std::min(start_offset, source_length)),
      chunk_count_((source_length_ - start_offset_ + kChunkSize - 1) / kChunkSize), checksum_table_(checksum_table)
{
    for (Slot& slot : slots_) {
        slot.bytes.resize(kChunkSize);
    }
}

SourceReader::~SourceReader() { stop(); }

void SourceReader::start()
{
    if (chunk_count_ < 2) {
        return;  // nothing to overlap
    }
    // The worker inherits the held signals: interruptions reach the main thread.
    const InterruptsHeld held;
    try {
        worker_ = std::thread(&SourceReader::read_ahead, this);
    } catch (const std::system_error&) {
        // No thread to be had: next() reads each chunk itself.
    }
}

int SourceReader::fill(std::uint64_t chunk_index) noexcept
{
    Slot& slot = slots_[chunk_index % 2];
    const std::uint64_t offset = start_offset_ + chunk_index * kChunkSize;
    slot.length = static_cast<std::size_t>(std::min<std::uint64_t>(kChunkSize, source_length_ - offset));
    const std::span<std::uint8_t> data(slot.bytes.data(), slot.length);
    if (read_at(source_, offset, data) != static_cast<std::int64_t>(slot.length)) {
        return -1;
    }
    std::uint64_t block_index = offset / kBlockSize;
    for (std::size_t at = 0; at < slot.length; at += kBlockSize) {
        const std::size_t length = std::min<std::size_t>(kBlockSize, slot.length - at);
        store_ul16(checksum_table_, kTableEntrySize * block_index++, block_checksum(data.subspan(at, length)));
    }
    return 0;
}

void SourceReader::read_ahead() noexcept
{
    for (std::uint64_t index = 0; index < chunk_count_; ++index) {
        {
            std::unique_lock lock(mutex_);
            // Two slots: chunk `index` may reuse the slot of chunk index - 2 once it is released.
            changed_.wait(lock, [&] { return stopping_ || index < released_ + 2; });
            if (stopping_) {
                return;
            }
        }
        const int result = fill(index);
        const std::lock_guard lock(mutex_);
        if (result != 0) {
            failed_ = true;
            changed_.notify_all();
            return;
        }
        filled_ = index + 1;
        changed_.notify_all();
    }
}

int SourceReader::next(std::span<const std::uint8_t>& chunk)
{
    chunk = {};
    const std::uint64_t index = next_index_;
    if (index > 0) {
        const std::lock_guard lock(mutex_);
        released_ = index;
        changed_.notify_all();
    }
    if (index == chunk_count_) {
        stop();  // every checksum is in the table from here on
        return 0;
    }
    if (worker_.joinable()) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return filled_ > index || failed_; });
        if (filled_ <= index) {
            return -1;
        }
    } else if (fill(index) != 0) {
        return -1;
    }
    next_index_ = index + 1;
    const Slot& slot = slots_[index % 2];
    chunk = {slot.bytes.data(), slot.length};
    return 0;
}

void SourceReader::stop()
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
