// Ctrl+C or a termination request during a conversion must not leave a
// half-written temporary file behind.
#pragma once

#include <filesystem>
#include <string_view>

#ifndef _WIN32
#include <csignal>
#endif

namespace quarnel {

// While alive, SIGINT and SIGTERM remove the registered temporary file, print
// the message and end the process as the signal asks.
class InterruptHandling {
public:
    // The message must outlive the handling (a constant).
    explicit InterruptHandling(std::string_view message);
    ~InterruptHandling();
    InterruptHandling(const InterruptHandling&) = delete;
    InterruptHandling& operator=(const InterruptHandling&) = delete;
};

// Holds SIGINT and SIGTERM back in this thread while alive, so that creating
// or renaming the temporary file and (un)registering it happen as one step.
// A thread started meanwhile inherits the mask.
class InterruptsHeld {
public:
    InterruptsHeld();
    ~InterruptsHeld();
    InterruptsHeld(const InterruptsHeld&) = delete;
    InterruptsHeld& operator=(const InterruptsHeld&) = delete;

#ifndef _WIN32
private:
    sigset_t saved_mask_{};
#endif
};

// The file an interruption removes, with its open descriptor: one at a time,
// so one output file may be live. 0, or -1 when the path is too long to keep.
[[nodiscard]] int register_file_to_remove(const std::filesystem::path& path, int descriptor);
void unregister_file_to_remove();

}  // namespace quarnel
