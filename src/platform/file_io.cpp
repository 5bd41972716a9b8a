#include "platform/file_io.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include "platform/platform.h"
#include "platform/transfer_loop.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#elif defined(__linux__)
#include <unistd.h>
#endif

namespace quarnel {
namespace {

// The descriptor calls: the C runtime's _close, _read, _write and _lseeki64
// on Windows, whose byte counts are int; the system calls on Linux.
#ifdef _WIN32
using ByteCount = int;
#elif defined(__linux__)
using ByteCount = ssize_t;
#endif

[[nodiscard]] int close_descriptor(int descriptor)
{
#ifdef _WIN32
    return ::_close(descriptor);
#elif defined(__linux__)
    return ::close(descriptor);
#endif
}

[[nodiscard]] ByteCount read_some(int descriptor, void* data, std::size_t size)
{
#ifdef _WIN32
    return ::_read(descriptor, data, static_cast<unsigned>(size));
#elif defined(__linux__)
    return ::read(descriptor, data, size);
#endif
}

[[nodiscard]] ByteCount write_some(int descriptor, const void* data, std::size_t size)
{
#ifdef _WIN32
    return ::_write(descriptor, data, static_cast<unsigned>(size));
#elif defined(__linux__)
    return ::write(descriptor, data, size);
#endif
}

[[nodiscard]] std::int64_t seek(int descriptor, std::int64_t offset, int whence)
{
#ifdef _WIN32
    return ::_lseeki64(descriptor, offset, whence);
#elif defined(__linux__)
    return ::lseek(descriptor, offset, whence);
#endif
}

}  // namespace

FileHandle::~FileHandle()
{
    if (descriptor_ >= 0) {
        (void)close_descriptor(descriptor_);  // callers that care close() first
    }
}

FileHandle::FileHandle(FileHandle&& other) noexcept : descriptor_(other.descriptor_) { other.descriptor_ = -1; }

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept
{
    if (this != &other) {
        if (descriptor_ >= 0) {
            (void)close_descriptor(descriptor_);
        }
        descriptor_ = other.descriptor_;
        other.descriptor_ = -1;
    }
    return *this;
}

int FileHandle::close()
{
    const int closing = descriptor_;
    descriptor_ = -1;
    return closing >= 0 && close_descriptor(closing) == 0 ? 0 : -1;
}

int FileHandle::release()
{
    const int released = descriptor_;
    descriptor_ = -1;
    return released;
}

// _wopen on Windows, where a regular file alone is measurable; on Linux a
// block device too, opened non-blocking so that a FIFO without a writer
// cannot hold the open.
FileHandle open_measurable_source(const std::filesystem::path& path)
{
#ifdef _WIN32
    FileHandle file(::_wopen(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT));
    struct _stat64 info {};
    if (!file.is_open() || ::_fstat64(file.descriptor(), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) {
        return FileHandle();
    }
#elif defined(__linux__)
    FileHandle file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info {};
    if (!file.is_open() || ::fstat(file.descriptor(), &info) != 0 ||
        !(S_ISREG(info.st_mode) || S_ISBLK(info.st_mode))) {
        return FileHandle();
    }
    const int flags = ::fcntl(file.descriptor(), F_GETFL);
    if (flags < 0 || ::fcntl(file.descriptor(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return FileHandle();
    }
#endif
    return file;
}

FileHandle create_exclusive(const std::filesystem::path& path)
{
#ifdef _WIN32
    return FileHandle(
        ::_wopen(path.c_str(), _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE));
#elif defined(__linux__)
    return FileHandle(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR));
#endif
}

int sync_file(const FileHandle& file)
{
#ifdef _WIN32
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(file.descriptor()));
    return handle != INVALID_HANDLE_VALUE && ::FlushFileBuffers(handle) != 0 ? 0 : -1;
#elif defined(__linux__)
    return ::fsync(file.descriptor()) == 0 ? 0 : -1;
#endif
}

std::int64_t measure_length(const FileHandle& file)
{
    const std::int64_t end = seek(file.descriptor(), 0, SEEK_END);
    return end < 0 ? -1 : end;
}

int seek_to_start(const FileHandle& file) { return seek(file.descriptor(), 0, SEEK_SET) == 0 ? 0 : -1; }

std::int64_t read_full(const FileHandle& file, std::span<std::uint8_t> buffer)
{
    return transfer::read_until_full(buffer, [&](std::uint8_t* data, std::size_t size, std::size_t) {
        return read_some(file.descriptor(), data, size);
    });
}

std::int64_t read_full_at(const FileHandle& file, std::uint64_t offset, std::span<std::uint8_t> buffer)
{
    if (seek(file.descriptor(), static_cast<std::int64_t>(offset), SEEK_SET) < 0) {
        return -1;
    }
    return read_full(file, buffer);
}

int write_all(const FileHandle& file, std::span<const std::uint8_t> bytes)
{
    return transfer::write_until_done(bytes, [&](const std::uint8_t* data, std::size_t size, std::size_t) {
        return write_some(file.descriptor(), data, size);
    });
}

}  // namespace quarnel
