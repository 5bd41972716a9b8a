#include "main/options.h"

#include <algorithm>

#include "image/ascii_case.h"

namespace quarnel {

namespace {

constexpr std::string_view kModelOption = "/MODEL:";
constexpr std::string_view kE220 = "E220";

}  // namespace

std::basic_string<ArgChar> ascii_upper(std::basic_string_view<ArgChar> text)
{
    std::basic_string<ArgChar> upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(), ascii_upper_unit<ArgChar>);
    return upper;
}

bool has_option_prefix(std::basic_string_view<ArgChar> argument, std::string_view keyword)
{
    if (argument.size() < keyword.size()) {
        return false;
    }
    const std::basic_string<ArgChar> upper = ascii_upper(argument.substr(0, keyword.size()));
    return std::equal(keyword.begin(), keyword.end(), upper.begin(),
                      [](char k, ArgChar c) { return static_cast<ArgChar>(k) == c; });
}

std::optional<ModemModel> model_option(std::basic_string_view<ArgChar> argument)
{
    if (!has_option_prefix(argument, kModelOption)) {
        return std::nullopt;
    }
    return has_option_prefix(argument.substr(kModelOption.size()), kE220) ? ModemModel::E220 : ModemModel::Default;
}

bool is_exact_option(std::basic_string_view<ArgChar> argument, std::string_view option)
{
    return argument == std::basic_string<ArgChar>(option.begin(), option.end());
}

}  // namespace quarnel
