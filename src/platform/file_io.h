// Open files as descriptors, one API on Linux and Windows: the handle that
// closes them, and reading, writing, seeking, measuring and flushing whole
// transfers. Files in a directory by name are platform/directory.h's. The
// descriptor calls are shared (file_io.cpp); opening and flushing have a file
// per system (file_io_linux.cpp, file_io_windows.cpp).
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

namespace quarnel {

// An open file descriptor, closed when the handle goes.
class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(int descriptor) : descriptor_(descriptor) {}
    ~FileHandle();
    FileHandle(FileHandle&& other) noexcept;
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    bool is_open() const { return descriptor_ >= 0; }
    int descriptor() const { return descriptor_; }

    // Closes now and reports whether the close succeeded (0 / -1).
    [[nodiscard]] int close();
    // Gives the descriptor up without closing it; the handle is closed after.
    [[nodiscard]] int release();

private:
    int descriptor_ = -1;
};

// Opens a file whose length can be measured for reading: a regular file, or
// on Linux also a block device. Anything else (a FIFO, a directory, a socket,
// a character device) gives a closed handle, without waiting for a writer to
// appear on a FIFO.
FileHandle open_measurable_source(const std::filesystem::path& path);

// The file's length in bytes (its end position), or -1.
[[nodiscard]] std::int64_t measure_length(const FileHandle& file);

[[nodiscard]] int seek_to_start(const FileHandle& file);

[[nodiscard]] int write_all(const FileHandle& file, std::span<const std::uint8_t> bytes);

// Creates a new file, readable and writable by its owner alone, open for
// reading and writing; a closed handle, errno EEXIST, when the name exists.
FileHandle create_exclusive(const std::filesystem::path& path);

// Flushes the file's data and what the system keeps about it (its size,
// permissions, owner, attributes) to the device: fsync on Linux,
// FlushFileBuffers on Windows.
[[nodiscard]] int sync_file(const FileHandle& file);

// The half of sync_file that does not wait, for many files made at once:
// on Linux the file's data starts going to the device, and the caller's
// Directory::flush_file_system() then waits for all of them together;
// Windows cannot split it, so the file is flushed here as by sync_file.
[[nodiscard]] int start_sync_file(const FileHandle& file);

}  // namespace quarnel
