// What the command line asks for, and the texts printed around it.
#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string_view>

#include "convert/convert_image.h"

namespace quarnel {

// The platform's own argument strings: bytes on POSIX, UTF-16 on Windows.
using ArgChar = std::filesystem::path::value_type;

// The whole argument vector, the program's name in entry 0. Nothing when the
// command line must be answered with the usage text.
std::optional<ConversionRequest> parse_command_line(std::span<const ArgChar* const> arguments);

std::string_view banner_text();
std::string_view usage_text();

// The whole run: banner, arguments, conversion; the result is the exit status.
int run_quarnel(std::span<const ArgChar* const> arguments);

}  // namespace quarnel
