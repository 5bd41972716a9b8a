// ASCII letter case, the one rule quarnel's programs match text by: options
// as the classic locale upper-cases them, and quarnel-pack's test of a name
// against the destination's where a file system that ignores case lists
// it in another spelling.
#pragma once

#include <algorithm>
#include <string_view>

namespace quarnel {

// Only a to z change.
template <typename Unit> constexpr Unit ascii_upper_unit(Unit unit)
{
    return unit >= Unit{'a'} && unit <= Unit{'z'} ? static_cast<Unit>(unit - Unit{'a'} + Unit{'A'}) : unit;
}

template <typename Unit>
constexpr bool ascii_equal_ignoring_case(std::basic_string_view<Unit> a, std::basic_string_view<Unit> b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](Unit x, Unit y) { return ascii_upper_unit(x) == ascii_upper_unit(y); });
}

}  // namespace quarnel
