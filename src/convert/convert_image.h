// One conversion: an ISO image in, a modem image out.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>

#include "image/header_area.h"
#include "writing/payload_copy.h"

namespace quarnel {

struct ConversionRequest {
    std::filesystem::path source;
    std::filesystem::path destination;
    ModemModel model = ModemModel::Default;
    // Called as the copy goes on; empty: nobody is told.
    std::function<void(std::uint64_t done, std::uint64_t total)> progress;
    // No command line sets it; a test's build of quarnel forces the in-kernel copy.
    CopyMethod copy_method = CopyMethod::Automatic;
};

// 0 once the destination holds the complete image; -1 after a failure it has
// reported on standard error, with any existing destination left as it was.
[[nodiscard]] int convert_image(const ConversionRequest& request);

}  // namespace quarnel
