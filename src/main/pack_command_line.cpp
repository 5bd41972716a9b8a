#include "main/pack_command_line.h"

#include <string_view>

#include "console/console.h"
#include "main/entry_point.h"
#include "main/options.h"
#include "pack/pack_messages.h"

namespace quarnel {

namespace {

constexpr std::string_view kLabelOption = "/LABEL:";
constexpr std::string_view kIsoOption = "/ISO";

}  // namespace

std::optional<PackRequest> parse_pack_command_line(std::span<const ArgChar* const> arguments)
{
    if (arguments.size() < 3) {
        return std::nullopt;
    }
    PackRequest request;
    for (const ArgChar* argument : arguments.subspan(1, arguments.size() - 3)) {
        const std::basic_string_view<ArgChar> option(argument);
        if (const auto model = model_option(option)) {
            request.model = *model;
        } else if (has_option_prefix(option, kLabelOption)) {
            // As given, in any script: the path type makes UTF-8 of Windows' wide text.
            const std::u8string label = std::filesystem::path(option.substr(kLabelOption.size())).u8string();
            request.label.emplace(label.begin(), label.end());
        } else if (is_exact_option(ascii_upper(option), kIsoOption)) {
            request.disc_only = true;
        } else {
            return std::nullopt;
        }
    }
    request.folder = arguments[arguments.size() - 2];
    request.destination = arguments[arguments.size() - 1];
    return request;
}

int run_quarnel_pack(std::span<const ArgChar* const> arguments)
{
    if (const std::optional<int> shown =
            show_help_or_version(arguments, pack_messages::help_text(), pack_messages::version_line())) {
        return *shown;
    }
    console::print(pack_messages::banner_text());
    return run_request(parse_pack_command_line(arguments), pack_messages::kUsage, pack_folder);
}

}  // namespace quarnel
