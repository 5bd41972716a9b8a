#include "main/inspect_command_line.h"

#include <string>
#include <string_view>

#include "inspect/inspect_messages.h"
#include "main/entry_point.h"
#include "main/options.h"

namespace quarnel {

std::optional<InspectRequest> parse_inspect_command_line(std::span<const ArgChar* const> arguments)
{
    if (arguments.size() != 2 && arguments.size() != 3) {
        return std::nullopt;
    }
    InspectRequest request;
    request.image = arguments[1];
    if (arguments.size() == 3) {
        request.extract_to = arguments[2];
    }
    return request;
}

int run_quarnel_inspect(std::span<const ArgChar* const> arguments)
{
    // Recognised as the sole argument only; an image named so is given as ./--help.
    if (arguments.size() == 2 && is_exact_option(arguments[1], "--help")) {
        return show_or_fail(inspect_messages::help_text(), inspect_messages::kUnableToWriteHelp);
    }
    if (arguments.size() == 2 && is_exact_option(arguments[1], "--version")) {
        return show_or_fail(inspect_messages::version_line(), inspect_messages::kUnableToWriteVersion);
    }
    return run_request(parse_inspect_command_line(arguments), inspect_messages::kUsage, inspect_image);
}

}  // namespace quarnel
