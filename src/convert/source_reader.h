// Reads the source in large chunks and records the checksum of each 4096-byte
// block in the image record's table. A worker thread reads and checksums the
// next chunk while the caller writes the current one, so a conversion costs
// about as much as the copy alone.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/file_io.h"
#include "platform/worker_thread.h"

namespace quarnel {

class SourceReader {
public:
    // Checksums land in checksum_table, one 2-byte entry a block of the source;
    // the table must outlive the reader. Reading starts at start_offset, a
    // whole number of blocks, wherever the file's position is. Allocates the
    // chunk buffers.
    SourceReader(const FileHandle& source, std::uint64_t source_length, std::span<std::uint8_t> checksum_table,
                 std::uint64_t start_offset = 0);
    ~SourceReader() = default;
    SourceReader(const SourceReader&) = delete;
    SourceReader& operator=(const SourceReader&) = delete;

    // Starts reading ahead; where no thread can be started, next() reads on demand.
    void start();

    // The next chunk, valid until the following call; empty after the last
    // one. -1 when the source fails or ends before its measured length.
    [[nodiscard]] int next(std::span<const std::uint8_t>& chunk);

private:
    struct Slot {
        std::vector<std::uint8_t> bytes;
        std::size_t length = 0;
    };

    // Both run on the worker thread, which must not throw: they only read
    // into memory allocated beforehand.
    [[nodiscard]] int fill(std::uint64_t chunk_index) noexcept;
    void read_ahead() noexcept;

    const FileHandle& source_;
    const std::uint64_t source_length_;
    const std::uint64_t start_offset_;
    const std::uint64_t chunk_count_;
    const std::span<std::uint8_t> checksum_table_;
    Slot slots_[2];

    // The state below is shared with the worker, under its lock; the worker
    // is declared last so that it stops before the rest is destroyed.
    std::uint64_t filled_ = 0;      // chunks read ahead so far
    std::uint64_t released_ = 0;    // chunks the caller is done with
    std::uint64_t next_index_ = 0;  // the chunk next() returns next
    bool failed_ = false;           // the worker stopped at chunk filled_
    WorkerThread worker_;
};

}  // namespace quarnel
