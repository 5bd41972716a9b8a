#include "main/inspect_command_line.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>

#include "inspect/inspect_messages.h"
#include "main/entry_point.h"
#include "main/options.h"

namespace quarnel {

namespace {

constexpr std::string_view kFilesOption = "/FILES";
constexpr std::string_view kUnpackOption = "/UNPACK:";

}  // namespace

std::optional<InspectRequest> parse_inspect_command_line(std::span<const ArgChar* const> arguments)
{
    // Options come first, in any letter case; an image named so is given as ./files.
    InspectRequest request;
    std::size_t first_path = 1;
    for (; first_path < arguments.size(); ++first_path) {
        const std::basic_string_view<ArgChar> option = arguments[first_path];
        if (is_exact_option(ascii_upper(option), kFilesOption)) {
            request.list_files = true;
        } else if (has_option_prefix(option, kUnpackOption)) {
            if (option.size() == kUnpackOption.size()) {
                return std::nullopt;  // a folder it does not name
            }
            request.unpack_to = std::filesystem::path(option.substr(kUnpackOption.size()));
        } else {
            break;
        }
    }
    const std::size_t paths = arguments.size() - std::min(first_path, arguments.size());
    if (paths != 1 && paths != 2) {
        return std::nullopt;
    }
    request.image = arguments[first_path];
    if (paths == 2) {
        request.extract_to = arguments[first_path + 1];
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
