// Where each program's messages go: standard error, as they stand.
#pragma once

#include <functional>
#include <string_view>

namespace quarnel::console {

// Standard error stays a text stream, so each newline becomes the platform's line end.
void print(std::string_view message);

// Prints the message of a failure and gives the status that reports it: -1.
[[nodiscard]] int fail(std::string_view message);

// Writes a report on standard output and flushes it; 0 / -1.
[[nodiscard]] int write_standard_output(std::string_view text);

// A line drawn on standard error that is not a message (progress): written as
// it stands, and erased by `eraser` before each message or report.
void print_transient(std::string_view text);
void set_transient_eraser(std::function<void()> eraser);

}  // namespace quarnel::console
