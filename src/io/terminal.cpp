#include "io/terminal.h"

#include "io/platform.h"

#ifdef _WIN32
#include <windows.h>
#elif defined(__linux__)
#include <unistd.h>
#endif

namespace quarnel {

// On Windows a console answers GetConsoleMode; NUL, which _isatty also calls
// a character device, and redirections do not. Its mode is left as it is.
Terminal standard_error_terminal()
{
#ifdef _WIN32
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0 ? Terminal::PlainConsole : Terminal::None;
#elif defined(__linux__)
    return ::isatty(STDERR_FILENO) == 1 ? Terminal::Ansi : Terminal::None;
#endif
}

}  // namespace quarnel
