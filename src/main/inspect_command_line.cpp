#include "main/inspect_command_line.h"

#include "inspect/inspect_messages.h"
#include "io/console.h"
#include "io/progress_line.h"

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
    std::optional<InspectRequest> request = parse_inspect_command_line(arguments);
    if (!request) {
        console::print(inspect_messages::kUsage);
        return -1;
    }
    TerminalProgress progress;
    request->progress = progress.callback();
    return inspect_image(*request);
}

}  // namespace quarnel
