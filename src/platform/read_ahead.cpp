#include "platform/read_ahead.h"

#include <algorithm>
#include <utility>

namespace quarnel {

ReadAhead::ReadAhead(std::uint64_t length, std::size_t chunk_size, ReadChunk read, ReadAheadUse use)
    : length_(length), chunk_size_(chunk_size), chunk_count_((length + chunk_size - 1) / chunk_size), use_(use),
      read_(std::move(read)), allowed_(use == ReadAheadUse::CheckOnly ? 0 : length)
{
    const std::size_t slots = use != ReadAheadUse::CheckOnly && chunk_count_ > 1 ? 2 : 1;
    for (std::size_t i = 0; i < slots && chunk_count_ > 0; ++i) {
        buffers_[i].resize(chunk_size_);
    }
}

std::size_t ReadAhead::chunk_length(std::uint64_t index) const
{
    return static_cast<std::size_t>(std::min<std::uint64_t>(chunk_size_, length_ - index * chunk_size_));
}

std::size_t ReadAhead::slot_of(std::uint64_t index) const
{
    return use_ == ReadAheadUse::CheckOnly ? 0 : static_cast<std::size_t>(index % 2);
}

std::span<std::uint8_t> ReadAhead::buffer_of(std::uint64_t index)
{
    return {buffers_[slot_of(index)].data(), chunk_length(index)};
}

bool ReadAhead::read_one(std::uint64_t index) noexcept
{
    const std::int64_t got = read_(index, buffer_of(index));
    const bool whole = got == static_cast<std::int64_t>(chunk_length(index));
    worker_.update([&] {
        if (got >= 0) {
            lengths_[slot_of(index)] = static_cast<std::size_t>(got);
            filled_[slot_of(index)] = index + 1;
        }
        const std::uint64_t stop = got < 0 ? index : index + 1;
        if (!whole && stop < stop_at_) {
            stop_at_ = stop;
            stopped_by_failure_ = got < 0;
        }
    });
    return whole;
}

bool ReadAhead::may_read(std::uint64_t index) const
{
    if (index >= stop_at_) {
        return false;
    }
    if (use_ == ReadAheadUse::CheckOnly) {
        return std::min(length_, (index + 1) * chunk_size_) <= allowed_;
    }
    // Two slots: chunk `index` may reuse the one of chunk index - 2 once it is released.
    return index < released_ + 2;
}

void ReadAhead::start()
{
    if (use_ != ReadAheadUse::CheckOnly && chunk_count_ < 2) {
        return;  // nothing to overlap
    }
    // Where no thread can be had, the caller's calls read each chunk themselves.
    static_cast<void>(worker_.start([this] { read_all(); }));
}

void ReadAhead::read_all() noexcept
{
    // Alternate: the caller reads the even chunks itself.
    const std::uint64_t first = use_ == ReadAheadUse::Alternate ? 1 : 0;
    const std::uint64_t step = use_ == ReadAheadUse::Alternate ? 2 : 1;
    for (std::uint64_t index = first; index < chunk_count_; index += step) {
        bool stopped = false;
        const bool go = worker_.wait([&] {
            stopped = index >= stop_at_;
            return stopped || may_read(index);
        });
        if (!go || stopped || !read_one(index)) {
            return;
        }
    }
}

void ReadAhead::allow(std::uint64_t end)
{
    worker_.update([&] { allowed_ = std::max(allowed_, end); });
}

int ReadAhead::next(std::span<const std::uint8_t>& chunk)
{
    chunk = {};
    const std::uint64_t index = next_index_;
    const std::size_t slot = slot_of(index);
    bool reached_stop = false;
    bool failed = false;
    worker_.update([&] {
        released_ = index;
        reached_stop = index >= std::min(stop_at_, chunk_count_);
    });
    const bool here = !worker_.running() || (use_ == ReadAheadUse::Alternate && index % 2 == 0);
    if (!reached_stop && here) {
        static_cast<void>(read_one(index));
    } else if (!reached_stop) {
        static_cast<void>(worker_.wait([&] { return filled_[slot] == index + 1 || index >= stop_at_; }));
    }
    bool handed = false;
    worker_.update([&] {
        handed = filled_[slot] == index + 1 && index < stop_at_;
        failed = !handed && index == stop_at_ && stopped_by_failure_;
    });
    if (!handed) {
        worker_.stop();  // every chunk is read and checked
        return failed ? -1 : 0;
    }
    next_index_ = index + 1;
    chunk = buffer_of(index).first(lengths_[slot]);
    return 0;
}

int ReadAhead::wait_until_read(std::uint64_t end)
{
    const std::uint64_t target = end >= length_ ? chunk_count_ : end / chunk_size_;
    if (!worker_.running()) {
        while (filled_[0] < target && filled_[0] < stop_at_ && read_one(filled_[0])) {
        }
    } else {
        static_cast<void>(worker_.wait([&] { return filled_[0] >= target || stop_at_ < target; }));
    }
    bool done = false;
    worker_.update([&] { done = filled_[0] >= target; });
    return done ? 0 : -1;
}

}  // namespace quarnel
