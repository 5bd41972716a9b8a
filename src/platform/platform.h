// The platforms quarnel is built for, checked in one place: every source of
// src/platform that branches on the platform includes this header, and its branches
// say `__linux__` or `_WIN32`. Another system stops the build here rather than
// compile a Linux branch against calls it may not have (O_PATH, getrandom,
// fdatasync, the extended-attribute calls, SIGPOLL, copy_file_range).
#pragma once

#if !defined(__linux__) && !defined(_WIN32)
#error "quarnel builds for Linux (__linux__) and Windows (_WIN32) only"
#endif
