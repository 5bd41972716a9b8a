#include <io.h>
#include <stdio.h>

#include "platform/copy.h"
#include "platform/transfer_loop.h"

namespace quarnel {

// No in-kernel copy: the caller copies through memory.
KernelCopyResult copy_in_kernel(const FileHandle& /*source*/, std::uint64_t /*source_offset*/,
                                const FileHandle& /*destination*/, std::uint64_t /*destination_offset*/,
                                std::uint64_t /*length*/)
{
    return {KernelCopyStatus::Unsupported, 0};
}

// No early writeback: the final flush does it all.
void start_writeback(const FileHandle& /*file*/, std::uint64_t /*offset*/, std::uint64_t /*length*/) {}

void finish_writeback(const FileHandle& /*file*/, std::uint64_t /*offset*/, std::uint64_t /*length*/) {}

bool copies_on_the_server(const FileHandle& /*source*/, const FileHandle& /*destination*/) { return false; }

// One thread reads or writes a file at a time here, so seeking first is safe.
std::int64_t read_at(const FileHandle& file, std::uint64_t offset, std::span<std::uint8_t> buffer)
{
    if (::_lseeki64(file.descriptor(), static_cast<std::int64_t>(offset), SEEK_SET) < 0) {
        return -1;
    }
    return transfer::read_until_full(buffer, [&](std::uint8_t* data, std::size_t size, std::size_t) {
        return ::_read(file.descriptor(), data, static_cast<unsigned>(size));
    });
}

// A seek, then the sequential write.
int write_at(const FileHandle& file, std::uint64_t offset, std::span<const std::uint8_t> bytes)
{
    if (::_lseeki64(file.descriptor(), static_cast<std::int64_t>(offset), SEEK_SET) < 0) {
        return -1;
    }
    return write_all(file, bytes);
}

}  // namespace quarnel
