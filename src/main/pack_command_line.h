// The command line of quarnel-pack.
#pragma once

#include <optional>
#include <span>

#include "pack/pack_folder.h"
#include "platform/arguments.h"

namespace quarnel {

// Options first, in any order, then the folder and the destination. Nothing
// when the command line must be answered with the usage text.
std::optional<PackRequest> parse_pack_command_line(std::span<const ArgChar* const> arguments);

// The whole run; the result is the exit status.
[[nodiscard]] int run_quarnel_pack(std::span<const ArgChar* const> arguments);

}  // namespace quarnel
