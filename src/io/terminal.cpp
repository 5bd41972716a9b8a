#include "io/terminal.h"

#ifdef _WIN32
#include <algorithm>
#include <windows.h>
#else
#include <cstdlib>
#include <string_view>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace quarnel {

#ifdef _WIN32

// A console answers GetConsoleMode; NUL, which _isatty also calls a
// character device, and redirections do not. Its mode is left as it is.
Terminal standard_error_terminal()
{
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0 ? Terminal::PlainConsole : Terminal::None;
}

std::size_t standard_error_columns()
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info) == 0) {
        return 0;
    }
    return static_cast<std::size_t>(std::max(0, info.srWindow.Right - info.srWindow.Left + 1));
}

#else

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

#endif

}  // namespace quarnel
