#include <cstdlib>
#include <string_view>
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/terminal.h"

namespace quarnel {

// A terminal that says it is dumb cannot erase a line.
Terminal standard_error_terminal()
{
    const char* term = std::getenv("TERM");
    const bool dumb = term != nullptr && std::string_view(term) == "dumb";
    return ::isatty(STDERR_FILENO) == 1 && !dumb ? Terminal::Ansi : Terminal::None;
}

std::size_t standard_error_columns()
{
    winsize size{};
    return ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

}  // namespace quarnel
