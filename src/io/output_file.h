// The destination under construction. It is written to a new temporary file
// in the destination's own directory and renamed over the destination only
// once complete, so a failed or interrupted run never leaves a partial image
// under the destination's name and an existing destination survives it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

#include "io/file_io.h"

namespace quarnel {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();  // removes the temporary file unless committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Refuses a destination that exists but is not a regular file; a symbolic
    // link is followed, so the file it names is replaced and the link stays.
    [[nodiscard]] int create(const std::filesystem::path& destination);

    [[nodiscard]] int append(std::span<const std::uint8_t> bytes);
    [[nodiscard]] int overwrite_start(std::span<const std::uint8_t> bytes);

    // Open for reading and writing, for copies at explicit offsets and reading back what landed.
    const FileHandle& handle() const { return file_; }

    // Flushes, closes and renames the temporary file over the destination.
    [[nodiscard]] int commit();

private:
    [[nodiscard]] int create_temporary();
    void discard();

    std::filesystem::path target_;
    std::filesystem::path temporary_;
    std::optional<std::filesystem::perms> kept_permissions_;
    FileHandle file_;
};

}  // namespace quarnel
