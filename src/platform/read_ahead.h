// Reads a run of bytes in chunks ahead of their use on a worker thread and
// checks each chunk there as it lands (the drivers' checksums), so that the
// caller's own work on one chunk overlaps the reading of the next.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "platform/worker_thread.h"

namespace quarnel {

enum class ReadAheadUse {
    HandOver,   // next() hands every chunk over, in order
    Alternate,  // likewise, but next() reads every other chunk itself, beside the worker: for a caller with little work
    CheckOnly,  // the chunks are only read and checked; wait_until_read() follows them
};

class ReadAhead {
public:
    // Fills `buffer` with chunk `index` and checks it: the bytes filled (fewer
    // than asked ends the run there), or -1. Runs on the worker thread, or on
    // the caller's (Alternate: on both at once, for different chunks): it must
    // not throw. Chunk `index` lands in slot index % 2, so that a check may
    // keep its results per slot.
    using ReadChunk = std::function<std::int64_t(std::uint64_t index, std::span<std::uint8_t> buffer)>;

    // `length` bytes in chunks of chunk_size, the last one shorter. Allocates the buffers.
    ReadAhead(std::uint64_t length, std::size_t chunk_size, ReadChunk read, ReadAheadUse use = ReadAheadUse::HandOver);
    ~ReadAhead() = default;
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Starts reading ahead; where no thread can be had, the calls below read on demand.
    void start();

    // CheckOnly: chunks may be read once they end at or below `end` (nothing before the first call).
    void allow(std::uint64_t end);

    // HandOver, Alternate: the next chunk, valid until the following call;
    // empty after the last. -1 at a chunk that failed; a chunk shorter than
    // asked is the last.
    [[nodiscard]] int next(std::span<const std::uint8_t>& chunk);

    // CheckOnly: waits until every chunk that ends at or below `end` (all of
    // them from the length on) is read and checked; -1 when one failed.
    [[nodiscard]] int wait_until_read(std::uint64_t end);

    // Stops the worker; the chunks handed over stay valid.
    void stop() { worker_.stop(); }

private:
    [[nodiscard]] std::size_t chunk_length(std::uint64_t index) const;
    [[nodiscard]] std::size_t slot_of(std::uint64_t index) const;
    [[nodiscard]] std::span<std::uint8_t> buffer_of(std::uint64_t index);
    // Reads a chunk; false when it failed or ended short. Runs where read_ may.
    [[nodiscard]] bool read_one(std::uint64_t index) noexcept;
    // Whether the worker may read chunk `index` now; under the lock.
    [[nodiscard]] bool may_read(std::uint64_t index) const;
    void read_all() noexcept;

    const std::uint64_t length_;
    const std::size_t chunk_size_;
    const std::uint64_t chunk_count_;
    const ReadAheadUse use_;
    const ReadChunk read_;
    std::vector<std::uint8_t> buffers_[2];  // the slots (CheckOnly: the first alone)
    std::uint64_t next_index_ = 0;          // the chunk next() hands over next

    // The state below is shared with the worker, under its lock; the worker
    // is declared last so that it stops before the rest is destroyed.
    std::size_t lengths_[2] = {0, 0};       // what read_ filled in each slot
    std::uint64_t filled_[2] = {0, 0};      // one past the index of the chunk each slot holds, 0 for none
    std::uint64_t released_ = 0;            // HandOver, Alternate: chunks the caller is done with
    std::uint64_t allowed_ = 0;             // CheckOnly: bytes that may be read
    std::uint64_t stop_at_ = chunk_count_;  // the first chunk not handed over: one failed, or the one after a short one
    bool stopped_by_failure_ = false;
    WorkerThread worker_;
};

}  // namespace quarnel
