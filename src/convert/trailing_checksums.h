// Checksums the payload from the destination's own bytes as they land: a
// thread trails the copy and reads each written range back from the page
// cache, so the image record's table describes exactly what is in the image
// even when the source changes while it is copied.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/file_io.h"
#include "platform/worker_thread.h"

namespace quarnel {

class TrailingChecksums {
public:
    // The payload lies at payload_offset in the destination; its checksums land
    // in checksum_table, which must outlive this. Allocates the read-back buffer.
    TrailingChecksums(const FileHandle& destination, std::uint64_t payload_offset, std::uint64_t payload_length,
                      std::span<std::uint8_t> checksum_table);
    ~TrailingChecksums() = default;
    TrailingChecksums(const TrailingChecksums&) = delete;
    TrailingChecksums& operator=(const TrailingChecksums&) = delete;

    // The payload's first `end` bytes are in the destination. The first call
    // starts the thread; where none can be had, the waits below do the work.
    void landed(std::uint64_t end);

    // Waits until every whole block below `end` has its checksum; -1 when the
    // destination could not be read back.
    [[nodiscard]] int wait_until_checked(std::uint64_t end);

    // Checksums every whole block below `end` (and the short last block once
    // `end` is the payload's length), then stops the thread.
    [[nodiscard]] int finish(std::uint64_t end);

private:
    // The end of what may be checksummed once `end` bytes have landed.
    [[nodiscard]] std::uint64_t checkable(std::uint64_t end) const;
    // Runs on the thread, which must not throw: it reads into the buffer allocated beforehand.
    [[nodiscard]] int check(std::uint64_t from, std::uint64_t to) noexcept;
    void trail() noexcept;

    const FileHandle& destination_;
    const std::uint64_t payload_offset_;
    const std::uint64_t payload_length_;
    const std::span<std::uint8_t> checksum_table_;
    std::vector<std::uint8_t> buffer_;
    bool started_ = false;

    // The state below is shared with the worker, under its lock; the worker
    // is declared last so that it stops before the rest is destroyed.
    std::uint64_t landed_ = 0;   // payload bytes in the destination
    std::uint64_t checked_ = 0;  // payload bytes with their checksums in the table
    bool failed_ = false;
    WorkerThread worker_;
};

}  // namespace quarnel
