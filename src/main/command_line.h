// What quarnel's command line asks for.
#pragma once

#include <optional>
#include <span>

#include "convert/convert_image.h"
#include "platform/arguments.h"

namespace quarnel {

// The whole argument vector, the program's name in entry 0. Nothing when the
// command line must be answered with the usage text.
std::optional<ConversionRequest> parse_command_line(std::span<const ArgChar* const> arguments);

// The whole run: banner, arguments, conversion; the result is the exit status.
[[nodiscard]] int run_quarnel(std::span<const ArgChar* const> arguments);

}  // namespace quarnel
