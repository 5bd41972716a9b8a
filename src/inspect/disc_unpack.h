// The disc inside a checked image, unpacked into a new folder: its files and
// folders with their times, made whole beside the folder's place and moved
// there when complete (output/temporary_folder.h), so that a failure or an
// interruption leaves nothing of it.
#pragma once

#include <cstdint>
#include <filesystem>

#include "disc/disc_reader.h"
#include "inspect/unpack_failure.h"
#include "platform/directory.h"
#include "platform/file_io.h"

namespace quarnel {

// Unpacks `listing`, the disc that starts `disc_offset` bytes into `image`,
// into the new folder `name` in `parent`, as resolve_new_folder() found
// them. 0, or -1 with `outcome` saying why.
[[nodiscard]] int unpack_disc(const FileHandle& image, std::uint64_t disc_offset, const disc::DiscListing& listing,
                              const Directory& parent, const std::filesystem::path& name, UnpackOutcome& outcome);

}  // namespace quarnel
