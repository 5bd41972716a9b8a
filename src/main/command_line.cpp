#include "main/command_line.h"

#include "console/console.h"
#include "convert/convert_messages.h"
#include "main/entry_point.h"
#include "main/options.h"

namespace quarnel {

std::optional<ConversionRequest> parse_command_line(std::span<const ArgChar* const> arguments)
{
    ConversionRequest request;
    if (arguments.size() == 3) {
        request.source = arguments[1];
        request.destination = arguments[2];
        return request;
    }
    if (arguments.size() != 4) {
        return std::nullopt;
    }
    const std::optional<ModemModel> model = model_option(arguments[1]);
    if (!model) {
        return std::nullopt;
    }
    request.model = *model;
    request.source = arguments[2];
    request.destination = arguments[3];
    return request;
}

int run_quarnel(std::span<const ArgChar* const> arguments)
{
    console::print(messages::banner_text());
    return run_request(parse_command_line(arguments), messages::kUsage, convert_image);
}

}  // namespace quarnel
