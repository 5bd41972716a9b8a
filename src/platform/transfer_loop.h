// The loop every whole read or write needs, wherever it reads or writes: one
// system call moves at most kMaxIoChunk, an interrupted call is retried and a
// short count goes on from where it stopped.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <span>

namespace quarnel::transfer {

// Every platform's count type holds this much.
inline constexpr std::size_t kMaxIoChunk = std::size_t{1} << 30;

// Reads until the buffer is full or the file ends; the byte count, or -1.
// `read_some(data, size, done)` reads at most `size` bytes, `done` already in.
template <typename ReadSome>
[[nodiscard]] std::int64_t read_until_full(std::span<std::uint8_t> buffer, ReadSome read_some)
{
    std::size_t done = 0;
    while (done < buffer.size()) {
        const auto got = read_some(buffer.data() + done, std::min(buffer.size() - done, kMaxIoChunk), done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return static_cast<std::int64_t>(done);
}

// Writes every byte; 0 or -1. `write_some(data, size, done)` as above.
template <typename WriteSome>
[[nodiscard]] int write_until_done(std::span<const std::uint8_t> bytes, WriteSome write_some)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const auto wrote = write_some(bytes.data() + done, std::min(bytes.size() - done, kMaxIoChunk), done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return -1;
        }
        done += static_cast<std::size_t>(wrote);
    }
    return 0;
}

}  // namespace quarnel::transfer
