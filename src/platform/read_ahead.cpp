#include "platform/read_ahead.h"

#include <algorithm>
#include <utility>

namespace quarnel {

ReadAhead::ReadAhead(std::uint64_t length, std::size_t chunk_size, ReadChunk read, ReadAheadUse use)
    : length_(length), chunk_size_(chunk_size), chunk_count_((length + chunk_size - 1) / chunk_size), use_(use),
      read_(std::move(read)), allowed_(use == ReadAheadUse::HandOver ? length : 0)
{
    const std::size_t buffers = use == ReadAheadUse::HandOver && chunk_count_ > 1 ? 2 : 1;
    for (std::size_t i = 0; i < buffers && chunk_count_ > 0; ++i) {
        buffers_[i].resize(chunk_size_);
    }
}

std::size_t ReadAhead::chunk_length(std::uint64_t index) const
{
    return static_cast<std::size_t>(std::min<std::uint64_t>(chunk_size_, length_ - index * chunk_size_));
}

std::span<std::uint8_t> ReadAhead::buffer_of(std::uint64_t index)
{
    return {buffers_[use_ == ReadAheadUse::HandOver ? index % 2 : 0].data(), chunk_length(index)};
}

bool ReadAhead::read_one(std::uint64_t index) noexcept
{
    const std::int64_t got = read_(index, buffer_of(index));
    const bool whole = got == static_cast<std::int64_t>(chunk_length(index));
    worker_.update([&] {
        if (got < 0) {
            failed_ = true;
        } else {
            lengths_[index % 2] = static_cast<std::size_t>(got);
            read_count_ = index + 1;
        }
        ended_ = !whole;
    });
    return whole;
}

bool ReadAhead::may_read(std::uint64_t index) const
{
    const std::uint64_t end = std::min(length_, (index + 1) * chunk_size_);
    // Two buffers: chunk `index` may reuse the one of chunk index - 2 once it is released.
    return end <= allowed_ && (use_ == ReadAheadUse::CheckOnly || index < released_ + 2);
}

void ReadAhead::start()
{
    if (use_ == ReadAheadUse::HandOver && chunk_count_ < 2) {
        return;  // nothing to overlap
    }
    // Where no thread can be had, the caller's calls read each chunk themselves.
    static_cast<void>(worker_.start([this] { read_all(); }));
}

void ReadAhead::read_all() noexcept
{
    for (std::uint64_t index = 0; index < chunk_count_; ++index) {
        if (!worker_.wait([&] { return may_read(index); }) || !read_one(index)) {
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
    if (index > 0) {
        worker_.update([&] { released_ = index; });
    }
    bool handed = false;
    bool failed = false;
    if (worker_.running()) {
        static_cast<void>(worker_.wait([&] {
            handed = read_count_ > index;
            failed = failed_;
            return handed || failed || ended_ || index == chunk_count_;
        }));
    } else if (index < chunk_count_ && !ended_) {
        static_cast<void>(read_one(index));
        handed = read_count_ > index;
        failed = failed_;
    }
    if (!handed) {
        worker_.stop();  // every chunk is read and checked
        return failed ? -1 : 0;
    }
    next_index_ = index + 1;
    chunk = buffer_of(index).first(lengths_[index % 2]);
    return 0;
}

int ReadAhead::wait_until_read(std::uint64_t end)
{
    const std::uint64_t target = end >= length_ ? chunk_count_ : end / chunk_size_;
    if (!worker_.running()) {
        while (read_count_ < target && !ended_ && read_one(read_count_)) {
        }
    } else {
        static_cast<void>(worker_.wait([&] { return read_count_ >= target || ended_; }));
    }
    bool done = false;
    worker_.update([&] { done = read_count_ >= target && !failed_; });
    return done ? 0 : -1;
}

}  // namespace quarnel
