// The disc inside a checked image, unpacked into a new folder: its files and
// folders with their times, made whole beside the folder's place and moved
// there when complete (output/temporary_folder.h), so that a failure or an
// interruption leaves nothing of it.
#pragma once

#include <cstdint>
#include <filesystem>

#include "disc/disc_reader.h"
#include "inspect/unpack_failure.h"
#include "platform/file_io.h"

namespace quarnel {

// Unpacks `listing`, the disc that starts `disc_offset` bytes into `image`,
// into the new folder `folder` (links on the way as an output file's
// destination takes them). 0, or -1 with `outcome` saying why.
[[nodiscard]] int unpack_disc(const FileHandle& image, std::uint64_t disc_offset, const disc::DiscListing& listing,
                              const std::filesystem::path& folder, UnpackOutcome& outcome);

}  // namespace quarnel
