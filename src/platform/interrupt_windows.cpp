#include <io.h>
#include <windows.h>

#include "platform/interrupt.h"

namespace quarnel {
namespace {

// The console runs its event handler on a thread of its own: this lock keeps
// it out while a file is created or renamed into place, and for good once the
// outcome is settled.
struct HoldLock {
    CRITICAL_SECTION section;
    HoldLock() { ::InitializeCriticalSection(&section); }
};

HoldLock& hold_lock()
{
    static HoldLock lock;
    return lock;
}

// Ctrl+C, Ctrl+Break, closing the console: the process ends here.
BOOL WINAPI on_console_event(DWORD /*event*/)
{
    ::EnterCriticalSection(&hold_lock().section);
    interrupt_system::clean_up_and_print_message();
    ::_exit(-1);
}

}  // namespace

void interrupt_system::install_handlers() { ::SetConsoleCtrlHandler(on_console_event, TRUE); }

void interrupt_system::restore_handlers() { ::SetConsoleCtrlHandler(on_console_event, FALSE); }

InterruptsHeld::InterruptsHeld() { ::EnterCriticalSection(&hold_lock().section); }

InterruptsHeld::~InterruptsHeld()
{
    if (!until_exit_) {
        ::LeaveCriticalSection(&hold_lock().section);
    }
}

void write_to_standard_error_in_handler(const char* text, std::size_t length)
{
    (void)::_write(2, text, static_cast<unsigned>(length));
}

}  // namespace quarnel
