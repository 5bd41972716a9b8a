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
    if (const std::optional<int> shown =
            show_help_or_version(arguments, inspect_messages::help_text(), inspect_messages::version_line())) {
        return *shown;
    }
    return run_request(parse_inspect_command_line(arguments), inspect_messages::kUsage, inspect_image);
}

}  // namespace quarnel
