// One conversion: an ISO image in, a modem image out.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>

#include "convert/payload_copy.h"
#include "image/header_area.h"

namespace quarnel {

struct ConversionRequest {
    std::filesystem::path source;
    std::filesystem::path destination;
    ModemModel model = ModemModel::Default;
    // Called as the copy goes on; empty: nobody is told.
    std::function<void(std::uint64_t done, std::uint64_t total)> progress;
};

// 0 once the destination holds the complete image; -1 after a failure it has
// reported on standard error, with any existing destination left as it was.
[[nodiscard]] int convert_image(const ConversionRequest& request);

#ifdef QUARNEL_TEST_SUPPORT__DO_NOT_USE
// In builds with the tests alone, and for them alone: the copy path every
// later conversion of this process takes (Automatic until set), so that the
// tests cover the in-kernel copy on a local file system.
void set_copy_method_for_tests(CopyMethod method);
#endif

}  // namespace quarnel
