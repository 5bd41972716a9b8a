// The command line of quarnel-inspect.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "inspect/inspect_image.h"
#include "main/command_line.h"

namespace quarnel {

std::optional<InspectRequest> parse_inspect_command_line(std::span<const ArgChar* const> arguments);

std::string_view inspect_usage_text();

// The whole run; the result is the exit status.
int run_quarnel_inspect(std::span<const ArgChar* const> arguments);

}  // namespace quarnel
