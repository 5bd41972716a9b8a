// The command line of quarnel-inspect.
#pragma once

#include <optional>
#include <span>

#include "inspect/inspect_image.h"
#include "platform/arguments.h"

namespace quarnel {

std::optional<InspectRequest> parse_inspect_command_line(std::span<const ArgChar* const> arguments);

// The whole run; the result is the exit status.
[[nodiscard]] int run_quarnel_inspect(std::span<const ArgChar* const> arguments);

}  // namespace quarnel
