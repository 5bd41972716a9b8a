#include "io/terminal.h"

#ifdef _WIN32
#include <windows.h>
#else
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

#else

Terminal standard_error_terminal() { return ::isatty(STDERR_FILENO) == 1 ? Terminal::Ansi : Terminal::None; }

#endif

}  // namespace quarnel
