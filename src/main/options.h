// The options quarnel's programs share: written with a slash and matched
// without regard to letter case, as the classic locale upper-cases.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "image/header_area.h"
#include "platform/arguments.h"

namespace quarnel {

// Only a to z change.
std::basic_string<ArgChar> ascii_upper(std::basic_string_view<ArgChar> text);

// Whether the argument, upper-cased, begins with the ASCII `keyword` ("/MODEL:").
bool has_option_prefix(std::basic_string_view<ArgChar> argument, std::string_view keyword);

// The model a /MODEL: option selects: E220 when the text after the colon
// begins with E220 (any case), the default model otherwise; empty when the
// argument is no model option.
std::optional<ModemModel> model_option(std::basic_string_view<ArgChar> argument);

// Whether an argument is exactly the given ASCII option ("--help").
bool is_exact_option(std::basic_string_view<ArgChar> argument, std::string_view option);

}  // namespace quarnel
