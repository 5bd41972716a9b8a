// A signal, a closed terminal or a console close during a run must not leave
// a half-written temporary file behind, nor report an outcome the disk does
// not show.
#pragma once

#include <filesystem>
#include <string_view>

#include "io/terminal.h"

#ifndef _WIN32
#include <csignal>
#endif

namespace quarnel {

// While alive, every signal whose default action ends the process (SIGHUP,
// SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGALRM, ...; on Windows Ctrl+C,
// Ctrl+Break and closing the console) removes the registered temporary file,
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
#ifndef _WIN32
    sigset_t saved_mask_{};
#endif
};

// The file an interruption removes: its name in the directory open as
// `directory` (on Windows a full path, the directory unused) and its open
// descriptor. One at a time, so one output file may be live. 0, or -1 when
// the name is too long to keep.
[[nodiscard]] int register_file_to_remove(int directory, const std::filesystem::path& name, int descriptor);
void unregister_file_to_remove();

// Whether a progress line stands on the terminal, and how the interruption's
// message must first erase it (Terminal::None: nothing to erase).
void set_line_to_erase(Terminal terminal);

// At start-up: a write that cannot be done (a closed pipe, a file-size limit)
// becomes a write error rather than the end of the process.
void ignore_write_signals();

}  // namespace quarnel
