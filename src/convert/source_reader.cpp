#include "convert/source_reader.h"

#include <algorithm>

#include "image/checksum.h"
#include "image/record_header.h"
#include "platform/copy.h"

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

void SourceReader::start()
{
    if (chunk_count_ < 2) {
        return;  // nothing to overlap
    }
    // Where no thread can be had, next() reads each chunk itself.
    static_cast<void>(worker_.start([this] { read_ahead(); }));
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
    checksum_blocks(data, offset / kBlockSize, checksum_table_);
    return 0;
}

void SourceReader::read_ahead() noexcept
{
    for (std::uint64_t index = 0; index < chunk_count_; ++index) {
        // Two slots: chunk `index` may reuse the slot of chunk index - 2 once it is released.
        if (!worker_.wait([&] { return index < released_ + 2; })) {
            return;
        }
        const bool read = fill(index) == 0;
        worker_.update([&] {
            if (read) {
                filled_ = index + 1;
            } else {
                failed_ = true;
            }
        });
        if (!read) {
            return;
        }
    }
}

int SourceReader::next(std::span<const std::uint8_t>& chunk)
{
    chunk = {};
    const std::uint64_t index = next_index_;
    if (index > 0) {
        worker_.update([&] { released_ = index; });
    }
    if (index == chunk_count_) {
        worker_.stop();  // every checksum is in the table from here on
        return 0;
    }
    if (worker_.running()) {
        bool filled = false;
        static_cast<void>(worker_.wait([&] {
            filled = filled_ > index;
            return filled || failed_;
        }));
        if (!filled) {
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

}  // namespace quarnel
