// One inspection: check a modem image, report what it holds, and optionally
// cut the ISO back out of it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "image/image_reader.h"

namespace quarnel {

struct InspectRequest {
    std::filesystem::path image;
    std::optional<std::filesystem::path> extract_to;
    bool list_files = false;  // /files: the disc's tree in the report
    // /unpack:<folder>: the disc's files and folders into this new folder.
    std::optional<std::filesystem::path> unpack_to;
    // Told how many of the image's bytes have been read, as the check goes (empty: nobody listens).
    std::function<void(std::uint64_t done, std::uint64_t total)> progress;
};

// 0 when the image passes every check (and was extracted, when asked, and
// its disc's tree read safely, when listed); -1 after a failure named on
// standard error. A disc whose tree cannot be read leaves the image's
// verdict valid and the extraction made, but fails the run: a listing asked
// for and not given is no success.
[[nodiscard]] int inspect_image(const InspectRequest& request);

}  // namespace quarnel
