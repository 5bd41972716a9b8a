#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/types.h>
#include <sys/vfs.h>  // statfs's f_type, Linux's file-system numbers
#include <unistd.h>

#include "platform/copy.h"
#include "platform/transfer_loop.h"

namespace quarnel {
namespace {

[[nodiscard]] bool means_unsupported(int error)
{
    // EXDEV: different file systems; EINVAL: not two regular files (a block
    // device); ENOSYS: an old kernel; EOPNOTSUPP: the file system declines.
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == ENOTSUP;
}

// sync_file_range, Linux's: starts writing the range out, and with `wait`
// waits first for earlier writes of it and then for this one. Advice only: a
// failure here shows again in the final flush, which is checked.
void write_back(const FileHandle& file, std::uint64_t offset, std::uint64_t length, bool wait)
{
    const unsigned flags =
        wait ? SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER : SYNC_FILE_RANGE_WRITE;
    (void)::sync_file_range(file.descriptor(), static_cast<off_t>(offset), static_cast<off_t>(length), flags);
}

}  // namespace

KernelCopyResult copy_in_kernel(const FileHandle& source, std::uint64_t source_offset, const FileHandle& destination,
                                std::uint64_t destination_offset, std::uint64_t length)
{
    std::uint64_t copied = 0;
    while (copied < length) {
        auto from = static_cast<off_t>(source_offset + copied);
        auto to = static_cast<off_t>(destination_offset + copied);
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(length - copied, transfer::kMaxIoChunk));
        const ssize_t moved = ::copy_file_range(source.descriptor(), &from, destination.descriptor(), &to, want, 0);
        if (moved < 0 && errno == EINTR) {
            continue;
        }
        if (moved < 0) {
            return {means_unsupported(errno) ? KernelCopyStatus::Unsupported : KernelCopyStatus::Failed, copied};
        }
        if (moved == 0) {
            return {KernelCopyStatus::EndOfSource, copied};
        }
        copied += static_cast<std::uint64_t>(moved);
    }
    return {KernelCopyStatus::Copied, copied};
}

void start_writeback(const FileHandle& file, std::uint64_t offset, std::uint64_t length)
{
    write_back(file, offset, length, false);
}

void finish_writeback(const FileHandle& file, std::uint64_t offset, std::uint64_t length)
{
    write_back(file, offset, length, true);
}

// NFS 4.2 and SMB copy on the server: the bytes never cross the network.
// fstatfs tells the file system by its magic number.
bool copies_on_the_server(const FileHandle& source, const FileHandle& destination)
{
    constexpr long kNfs = 0x6969;
    constexpr long kSmb2 = 0xFE534D42;
    constexpr long kCifs = 0xFF534D42;
    struct statfs from {};
    struct statfs to {};
    if (::fstatfs(source.descriptor(), &from) != 0 || ::fstatfs(destination.descriptor(), &to) != 0) {
        return false;
    }
    const auto type = static_cast<long>(to.f_type);
    return static_cast<long>(from.f_type) == type && (type == kNfs || type == kSmb2 || type == kCifs);
}

std::int64_t read_at(const FileHandle& file, std::uint64_t offset, std::span<std::uint8_t> buffer)
{
    return transfer::read_until_full(buffer, [&](std::uint8_t* data, std::size_t size, std::size_t done) {
        return ::pread(file.descriptor(), data, size, static_cast<off_t>(offset + done));
    });
}

int write_at(const FileHandle& file, std::uint64_t offset, std::span<const std::uint8_t> bytes)
{
    return transfer::write_until_done(bytes, [&](const std::uint8_t* data, std::size_t size, std::size_t done) {
        return ::pwrite(file.descriptor(), data, size, static_cast<off_t>(offset + done));
    });
}

}  // namespace quarnel
