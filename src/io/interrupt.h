// A signal, a closed terminal or a console close during a run must not leave
// a half-written temporary file behind, nor report an outcome the disk does
// not show.
#pragma once

#include <string_view>

#include "io/platform.h"

#ifdef __linux__
#include <csignal>
#endif

namespace quarnel {

// While alive, every signal whose default action ends the process (SIGHUP,
// SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGALRM, ...; on Windows Ctrl+C,
// Ctrl+Break and closing the console) removes the registered temporary file
// (remove_registered_file(), io/temporary_file.h), erases a progress line,
// prints the message and ends the process as the signal asks. A signal the
// caller left ignored stays ignored. Signals are acted on in the thread that
// set the handling up; other threads pass them on to it.
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
// is acted on when the hold ends, unless keep_until_exit() was called.
class InterruptsHeld {
public:
    InterruptsHeld();
    ~InterruptsHeld();
    InterruptsHeld(const InterruptsHeld&) = delete;
    InterruptsHeld& operator=(const InterruptsHeld&) = delete;

    // The outcome is settled (the destination was replaced): a signal from now
    // on must not turn it into an interruption, so the hold lasts until exit.
    void keep_until_exit() { kept_ = true; }

private:
    bool kept_ = false;
#ifdef __linux__
    sigset_t saved_mask_{};
#endif
};

// What the interruption's message must first write to erase what stands on
// the terminal ("" for nothing): handed over by the progress line, which
// alone knows what it drew. Calls must not overlap; a handler may run between
// any two and finds the one or the other.
void set_line_eraser(std::string_view eraser);

}  // namespace quarnel
