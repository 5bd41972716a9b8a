// The command line as the platform hands it over.
#pragma once

#include <filesystem>

namespace quarnel {

// The platform's own argument strings: bytes on Linux, UTF-16 on Windows.
using ArgChar = std::filesystem::path::value_type;

}  // namespace quarnel
