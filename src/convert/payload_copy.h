// Moves the source's bytes into the image behind its header area while the
// image record's checksum table fills, starting the writeback of what has
// landed as it goes so that the final flush waits only for the tail.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "platform/file_io.h"

namespace quarnel {

// Locally, reading through memory (one pass, the checksums taken from the very
// bytes written) beats an in-kernel copy that must read the image back for
// them: the payload's offset in the image is not page-aligned, so the kernel
// can share or offload nothing. A file server that copies on its own side is
// the exception.
enum class CopyMethod {
    Automatic,  // in the kernel where both files are on one file server, else through memory
    Kernel,     // in the kernel wherever the platform and both files allow it, else through memory
    ReadWrite,  // always through memory, as where no in-kernel copy exists
};

// Called after each step with the payload bytes copied so far and their total.
using CopyProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

struct Payload {
    const FileHandle& source;
    std::uint64_t length;
    const FileHandle& destination;  // open for reading and writing
    std::uint64_t destination_offset;
    std::span<std::uint8_t> checksum_table;  // one entry a 4096-byte block
};

enum class PayloadResult { Done, ReadFailed, WriteFailed };

// A source that ends before `length` is a read failure.
[[nodiscard]] PayloadResult copy_payload(const Payload& payload, CopyMethod method, const CopyProgress& progress);

}  // namespace quarnel
