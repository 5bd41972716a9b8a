#include "platform/file_io.h"

#include <cstdio>

#include "platform/platform.h"
#include "platform/transfer_loop.h"

#ifdef _WIN32
#include <io.h>
#elif defined(__linux__)
#include <unistd.h>
#endif

namespace quarnel {
namespace {

// The descriptor calls: the C runtime's _close, _write and _lseeki64
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

std::int64_t measure_length(const FileHandle& file)
{
    const std::int64_t end = seek(file.descriptor(), 0, SEEK_END);
    return end < 0 ? -1 : end;
}

int seek_to_start(const FileHandle& file) { return seek(file.descriptor(), 0, SEEK_SET) == 0 ? 0 : -1; }

int write_all(const FileHandle& file, std::span<const std::uint8_t> bytes)
{
    return transfer::write_until_done(bytes, [&](const std::uint8_t* data, std::size_t size, std::size_t) {
        return write_some(file.descriptor(), data, size);
    });
}

}  // namespace quarnel
