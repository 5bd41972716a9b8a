// One conversion: an ISO image in, a modem image out.
#pragma once

#include <filesystem>

#include "image/header_area.h"

namespace quarnel {

struct ConversionRequest {
    std::filesystem::path source;
    std::filesystem::path destination;
    ModemModel model = ModemModel::Default;
};

// 0 once the destination holds the complete image; -1 after a failure it has
// reported on standard error, with any existing destination left as it was.
[[nodiscard]] int convert_image(const ConversionRequest& request);

}  // namespace quarnel
