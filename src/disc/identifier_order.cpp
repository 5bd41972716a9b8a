#include "disc/identifier_order.h"

#include <algorithm>
#include <utility>

namespace quarnel::disc {

namespace {

// The name and the extension of `id`, without its version number.
template <typename Unit>
std::pair<std::basic_string_view<Unit>, std::basic_string_view<Unit>> split(std::basic_string_view<Unit> id)
{
    id = id.substr(0, id.find(Unit{';'}));
    const std::size_t dot = id.rfind(Unit{'.'});
    return dot == std::basic_string_view<Unit>::npos ? std::pair{id, std::basic_string_view<Unit>()}
                                                     : std::pair{id.substr(0, dot), id.substr(dot + 1)};
}

template <typename Unit> int padded_compare(std::basic_string_view<Unit> x, std::basic_string_view<Unit> y)
{
    for (std::size_t i = 0; i < std::max(x.size(), y.size()); ++i) {
        const Unit cx = i < x.size() ? x[i] : Unit{' '};
        const Unit cy = i < y.size() ? y[i] : Unit{' '};
        if (cx != cy) {
            return cx < cy ? -1 : 1;
        }
    }
    return x.size() == y.size() ? 0 : (x.size() < y.size() ? -1 : 1);
}

template <typename Unit> bool precedes_in(std::basic_string_view<Unit> a, std::basic_string_view<Unit> b)
{
    const auto [name_a, extension_a] = split(a);
    const auto [name_b, extension_b] = split(b);
    const int by_name = padded_compare(name_a, name_b);
    return by_name != 0 ? by_name < 0 : padded_compare(extension_a, extension_b) < 0;
}

}  // namespace

bool precedes(std::string_view a, std::string_view b) { return precedes_in(a, b); }

bool precedes(std::u16string_view a, std::u16string_view b) { return precedes_in(a, b); }

}  // namespace quarnel::disc
