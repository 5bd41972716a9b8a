// Copying between files at explicit offsets: in the kernel where the platform
// allows it, and starting the writeback of written ranges early, so that a
// final flush waits only for the tail. Nothing here moves a file's position.
// A file per system (copy_linux.cpp, copy_windows.cpp).
#pragma once

#include <cstdint>
#include <span>

#include "platform/file_io.h"

namespace quarnel {

enum class KernelCopyStatus {
    Copied,       // the whole length moved
    EndOfSource,  // the source ended first
    Unsupported,  // this platform, kernel or pair of files cannot: copy through memory instead
    Failed,       // a read or a write fault, which one call over both files cannot tell apart
};

struct KernelCopyResult {
    KernelCopyStatus status;
    std::uint64_t copied;  // bytes that landed before the status applied
};

// Copies `length` bytes from the source at source_offset to the destination
// at destination_offset without passing them through this process (Linux
// copy_file_range between regular files).
[[nodiscard]] KernelCopyResult copy_in_kernel(const FileHandle& source, std::uint64_t source_offset,
                                              const FileHandle& destination, std::uint64_t destination_offset,
                                              std::uint64_t length);

// Whether an in-kernel copy between these files runs on a file server (both
// on NFS or on SMB), so that the bytes need not cross the network twice.
[[nodiscard]] bool copies_on_the_server(const FileHandle& source, const FileHandle& destination);

// Reads at an offset until the buffer is full or the file ends; the byte
// count, or -1. Safe beside other threads using the same file on Linux (pread).
[[nodiscard]] std::int64_t read_at(const FileHandle& file, std::uint64_t offset, std::span<std::uint8_t> buffer);

// Whether two threads may call read_at on one file at once: pread leaves the
// file's position alone, while a read on Windows seeks first.
#ifdef _WIN32
inline constexpr bool kReadAtFromTwoThreads = false;
#else
inline constexpr bool kReadAtFromTwoThreads = true;
#endif

// Writes every byte at an offset; 0 or -1.
[[nodiscard]] int write_at(const FileHandle& file, std::uint64_t offset, std::span<const std::uint8_t> bytes);

// Starts writing a range of dirty pages to the device without waiting (Linux
// sync_file_range); elsewhere nothing, and the final flush does it all.
void start_writeback(const FileHandle& file, std::uint64_t offset, std::uint64_t length);

// Writes a range out and waits until it has reached the device's queue.
void finish_writeback(const FileHandle& file, std::uint64_t offset, std::uint64_t length);

}  // namespace quarnel
