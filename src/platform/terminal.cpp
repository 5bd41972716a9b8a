#include "platform/terminal.h"

#include "platform/platform.h"

#ifdef _WIN32
#include <algorithm>
#include <windows.h>
#elif defined(__linux__)
#include <cstdlib>
#include <string_view>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace quarnel {

// On Windows a console answers GetConsoleMode; NUL, which _isatty also calls
// a character device, and redirections do not. Its mode is left as it is.
// On Linux a terminal that says it is dumb cannot erase a line.
Terminal standard_error_terminal()
{
#ifdef _WIN32
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0 ? Terminal::PlainConsole : Terminal::None;
#elif defined(__linux__)
    const char* term = std::getenv("TERM");
    const bool dumb = term != nullptr && std::string_view(term) == "dumb";
    return ::isatty(STDERR_FILENO) == 1 && !dumb ? Terminal::Ansi : Terminal::None;
#endif
}

// The console window's width on Windows, the terminal's on Linux.
std::size_t standard_error_columns()
{
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info) == 0) {
        return 0;
    }
    return static_cast<std::size_t>(std::max(0, info.srWindow.Right - info.srWindow.Left + 1));
#elif defined(__linux__)
    winsize size{};
    return ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
#endif
}

}  // namespace quarnel
