// Whether standard error is a terminal that a progress line can be drawn on.
// A file per system (terminal_linux.cpp, terminal_windows.cpp).
#pragma once

#include <cstddef>

namespace quarnel {

enum class Terminal {
    None,          // a file, a pipe, a device: nothing but the messages may go there
    Ansi,          // understands carriage return and "erase to the end of the line"
    PlainConsole,  // a Windows console, where spaces erase what a carriage return went back over
};

// TERM=dumb, which cannot erase a line, counts as no terminal.
Terminal standard_error_terminal();

// How many characters fit on a line of that terminal now; 0 when it does not say.
std::size_t standard_error_columns();

}  // namespace quarnel
