#include "main/command_line.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "console/console.h"
#include "convert/convert_messages.h"
#include "main/entry_point.h"

namespace quarnel {
namespace {

constexpr std::string_view kModelOption = "/MODEL:";
constexpr std::string_view kE220 = "E220";

// Upper-cases as the classic locale does: only a to z change.
std::basic_string<ArgChar> ascii_upper(std::basic_string_view<ArgChar> text)
{
    std::basic_string<ArgChar> upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](ArgChar c) { return c >= 'a' && c <= 'z' ? static_cast<ArgChar>(c - 'a' + 'A') : c; });
    return upper;
}

bool starts_with(std::basic_string_view<ArgChar> text, std::string_view prefix)
{
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (text[i] != static_cast<ArgChar>(prefix[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

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
    const std::basic_string<ArgChar> option = ascii_upper(arguments[1]);
    if (!starts_with(option, kModelOption)) {
        return std::nullopt;
    }
    if (starts_with(std::basic_string_view<ArgChar>(option).substr(kModelOption.size()), kE220)) {
        request.model = ModemModel::E220;
    }
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
