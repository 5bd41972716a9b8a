// Where each program's messages go: standard error, as they stand.
#pragma once

#include <string_view>

namespace quarnel::console {

// Standard error stays a text stream, so each newline becomes the platform's line end.
void print(std::string_view message);

// Prints the message of a failure and gives the status that reports it: -1.
[[nodiscard]] int fail(std::string_view message);

}  // namespace quarnel::console
