// A signal, a closed terminal or a console close during a run must not leave
// a half-written temporary file behind, nor report an outcome the disk does
// not show. The cleanups are shared (interrupt.cpp); what catches the
// interruption has a file per system (interrupt_linux.cpp, interrupt_windows.cpp).
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/platform.h"

#ifdef __linux__
#include <csignal>
#endif

namespace quarnel {

// While alive, every signal whose default action ends the process (SIGHUP,
// SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGALRM, ...; on Windows Ctrl+C,
// Ctrl+Break and closing the console) runs the registered cleanups in the
// order they were registered, prints the message and ends the process as the
// signal asks. A signal the caller left ignored stays ignored. Signals are
// acted on in the thread that set the handling up; other threads pass them on
// to it.
class InterruptHandling {
public:
    // The message must outlive the handling (a constant).
    explicit InterruptHandling(std::string_view message);
    ~InterruptHandling();
    InterruptHandling(const InterruptHandling&) = delete;
    InterruptHandling& operator=(const InterruptHandling&) = delete;
};

// Holds the handled signals back in this thread while alive, so that creating
// or renaming the temporary file and (un)registering it happen as one step. A
// thread started meanwhile inherits the hold. A signal that arrives meanwhile
// is acted on when the hold ends, unless hold_until_exit() was called.
class InterruptsHeld {
public:
    InterruptsHeld();
    ~InterruptsHeld();
    InterruptsHeld(const InterruptsHeld&) = delete;
    InterruptsHeld& operator=(const InterruptsHeld&) = delete;

    // The outcome is final (the destination was replaced): a signal from now
    // on must not turn it into an interruption, so the hold lasts until exit.
    void hold_until_exit() { until_exit_ = true; }

private:
    bool until_exit_ = false;
#ifdef __linux__
    sigset_t saved_mask_{};
#endif
};

// What an interruption does before its message, registered by whoever holds
// something to undo (a temporary file, a line on the terminal). A cleanup
// runs inside a signal handler: async-signal-safe, no allocation, no lock.
using InterruptCleanup = void (*)();
inline constexpr int kMaxInterruptCleanups = 4;

// Adds the cleanup once (again is a no-op); -1 when every slot is taken.
// Registrations last for the process.
[[nodiscard]] int register_interrupt_cleanup(InterruptCleanup cleanup);

// Standard error from inside a cleanup: the system's write, unbuffered.
void write_to_standard_error_in_handler(const char* text, std::size_t length);

// Between interrupt.cpp and its system's file alone.
namespace interrupt_system {
// Signal handlers on Linux, a console-event handler on Windows; and taking
// them away again.
void install_handlers();
void restore_handlers();
// What every handler does before the process ends, async-signal-safe: the
// cleanups in turn, then the message.
void clean_up_and_print_message();
}  // namespace interrupt_system

}  // namespace quarnel
