#include <algorithm>
#include <windows.h>

#include "platform/terminal.h"

namespace quarnel {

// A console answers GetConsoleMode; NUL, which _isatty also calls a
// character device, and redirections do not. Its mode is left as it is.
Terminal standard_error_terminal()
{
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0 ? Terminal::PlainConsole : Terminal::None;
}

// The console window's width.
std::size_t standard_error_columns()
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info) == 0) {
        return 0;
    }
    return static_cast<std::size_t>(std::max(0, info.srWindow.Right - info.srWindow.Left + 1));
}

}  // namespace quarnel
