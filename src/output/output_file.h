// The destination under construction. It is written to a new temporary file
// in the destination's own directory and renamed over the destination only
// once complete, so a failed or interrupted run never leaves a partial image
// under the destination's name and an existing destination survives it.
//
// States:
//   empty       nothing on disk: before create(), or after a create() that failed;
//   writing     create() resolved the destination (output/destination.h) and made
//               the temporary file (output/temporary_file.h), registered so that an
//               interruption removes it; append() and overwrite_start() write it;
//   committed   commit() gave it the replaced file's metadata
//               (output/file_metadata.h), flushed, closed and renamed it over the
//               destination, and flushed the directory: nothing is left to
//               remove, a signal no longer turns the run into an
//               interruption, and a power cut leaves the new file;
//   discarded   the destructor, or an interruption, removed the temporary file
//               of an output file not committed (also after a commit() that
//               failed); the destination is as it was.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "output/destination.h"
#include "output/temporary_file.h"
#include "platform/file_io.h"

namespace quarnel {

class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Makes nothing for a destination that resolve_destination() finds to be
    // `source` or refuses; Refused also when the temporary file cannot be made.
    [[nodiscard]] Resolution create(const std::filesystem::path& destination, const FileHandle& source);

    // The temporary file, open for reading and writing.
    const FileHandle& handle() const { return temporary_.handle(); }

    [[nodiscard]] int append(std::span<const std::uint8_t> bytes);
    [[nodiscard]] int overwrite_start(std::span<const std::uint8_t> bytes);

    // Gives the file what the replaced file had (permission bits, owner and
    // group where the caller may set them, extended attributes and ACLs), or
    // what any new file gets in its directory; flushes it, data and metadata,
    // closes it and renames it over the destination; then flushes the
    // directory, so that the rename too survives a power cut. A signal that
    // arrives once the rename is done cannot turn the run into an
    // interruption. -1 when the directory's flush fails means the new file
    // may already stand under the destination's name.
    [[nodiscard]] int commit();

private:
    Destination destination_;  // outlives temporary_, which lives in its directory
    TemporaryFile temporary_;  // removes itself unless committed
};

}  // namespace quarnel
