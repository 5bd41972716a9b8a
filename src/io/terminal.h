// Whether standard error is a terminal that a progress line can be drawn on.
#pragma once

namespace quarnel {

enum class Terminal {
    None,          // a file, a pipe, a device: nothing but the messages may go there
    Ansi,          // understands carriage return and "erase to the end of the line"
    PlainConsole,  // a Windows console, where spaces erase what a carriage return went back over
};

Terminal standard_error_terminal();

}  // namespace quarnel
