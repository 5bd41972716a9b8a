#include "main/inspect_command_line.h"

#include <string>
#include <string_view>

#include "inspect/inspect_messages.h"
#include "main/entry_point.h"

namespace quarnel {
namespace {

// The version --version prints, from the project's version in CMakeLists.txt.
constexpr std::string_view kVersionLine = "quarnel-inspect " QUARNEL_VERSION "\n";

// Whether an argument is exactly the given ASCII option, in the platform's own characters.
bool is_option(std::basic_string_view<ArgChar> argument, std::string_view option)
{
    return argument == std::basic_string<ArgChar>(option.begin(), option.end());
}

// Prints `text` on standard output, or says on standard error that it could not.
[[nodiscard]] int show(std::string_view text, std::string_view failure)
{
    return console::write_standard_output(text) == 0 ? 0 : console::fail(failure);
}

}  // namespace

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
    if (arguments.size() == 2 && is_option(arguments[1], "--help")) {
        return show(inspect_messages::kHelp, inspect_messages::kUnableToWriteHelp);
    }
    if (arguments.size() == 2 && is_option(arguments[1], "--version")) {
        return show(kVersionLine, inspect_messages::kUnableToWriteVersion);
    }
    return run_request(parse_inspect_command_line(arguments), inspect_messages::kUsage, inspect_image);
}

}  // namespace quarnel
