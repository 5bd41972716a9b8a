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

    // Refuses a destination that exists but is not a regular file, or that
    // the caller may not write. A symbolic link is followed, so the file it
    // names is replaced and the link stays; but in a sticky directory that
    // anyone may write (such as /tmp) only a link of the caller's or of the
    // directory's owner is followed, as the kernel's protected_symlinks does.
    [[nodiscard]] int create(const std::filesystem::path& destination);

    // The temporary file, open for reading and writing.
    const FileHandle& handle() const { return file_; }

    [[nodiscard]] int append(std::span<const std::uint8_t> bytes);
    [[nodiscard]] int overwrite_start(std::span<const std::uint8_t> bytes);

    // Flushes the file and gives it what the replaced file had (permission
    // bits, owner and group where the caller may set them, extended
    // attributes and ACLs), or the permissions a new file gets; then closes
    // it and renames it over the destination. A signal that arrives once the
    // rename is done cannot turn the run into an interruption.
    [[nodiscard]] int commit();

private:
    [[nodiscard]] int find_target(const std::filesystem::path& destination);
    [[nodiscard]] int create_temporary();
    [[nodiscard]] int pass_on_attributes();
    void discard();

    FileHandle directory_;             // POSIX: names below are relative to it
    std::filesystem::path target_;     // on Windows a full path
    std::filesystem::path temporary_;  // on Windows a full path
    FileHandle replaced_;              // POSIX: the existing destination, for its extended attributes
    std::optional<unsigned> kept_permissions_;
    std::optional<unsigned> kept_owner_;
    std::optional<unsigned> kept_group_;
    FileHandle file_;
};

}  // namespace quarnel
