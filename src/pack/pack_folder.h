// One packing: a folder in, the modem image of a disc made of it (or the
// disc alone) out, the files streamed into it in one pass.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "image/header_area.h"

namespace quarnel {

struct PackRequest {
    std::filesystem::path folder;
    std::filesystem::path destination;
    ModemModel model = ModemModel::Default;
    std::optional<std::string> label;  // UTF-8; empty: the folder's name
    bool disc_only = false;            // the ISO itself, without the modem image around it
    // Called as the copy goes on; empty: nobody is told.
    std::function<void(std::uint64_t done, std::uint64_t total)> progress;
};

// 0 once the destination holds the complete image; -1 after a failure it has
// reported on standard error, with any existing destination left as it was.
[[nodiscard]] int pack_folder(const PackRequest& request);

}  // namespace quarnel
