// The order of identifiers in a directory's records (ECMA-119 9.3): by
// name, then by extension, each padded with spaces; the one version number
// all files have does not decide. A Joliet identifier splits at its last
// '.' alike. The path tables take their order from it too.
#pragma once

#include <string_view>

namespace quarnel::disc {

// Whether identifier `a` comes before `b`.
bool precedes(std::string_view a, std::string_view b);
bool precedes(std::u16string_view a, std::u16string_view b);

}  // namespace quarnel::disc
