// One line on a terminal that tells how far a long run has come ("42%,
// 310.5 MiB/s"), drawn only once the run has lasted a moment and redrawn a few
// times a second, and erased before any message so that the terminal ends up
// showing the messages alone.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/terminal.h"

namespace quarnel {

struct ProgressTiming {
    std::chrono::milliseconds delay{500};     // a shorter run shows no line at all
    std::chrono::milliseconds interval{250};  // between two drawings
};

class ProgressLine {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    using Writer = std::function<void(std::string_view)>;
    using Columns = std::function<std::size_t()>;

    // The run starts now, by the clock given; `terminal` says how a line is
    // erased, `columns` how wide the terminal is now (empty or 0: unknown).
    ProgressLine(Writer write, Clock clock, Terminal terminal, ProgressTiming timing = {}, Columns columns = {});

    // Hands `take` the bytes that erase what stands on the terminal, before
    // each drawing (sized to cover it) and once erased (""), so that whatever
    // prints a final message without this line (an interruption) erases it first.
    void hand_eraser_to(Writer take);

    void update(std::uint64_t done, std::uint64_t total);
    // Leaves the cursor at the start of an empty line, if a line was drawn.
    void erase();

private:
    std::string_view fit(std::string_view text) const;
    void draw(std::string_view text);
    std::string eraser(std::size_t width) const;

    std::mutex mutex_;  // a driver may report from another thread than the one that prints
    Writer write_;
    Writer take_eraser_;
    Clock clock_;
    Terminal terminal_;
    ProgressTiming timing_;
    Columns columns_;
    std::chrono::steady_clock::time_point start_;
    std::optional<std::chrono::steady_clock::time_point> last_drawn_;
    std::size_t drawn_width_ = 0;
};

// While alive, a progress line on standard error when it is a terminal, erased
// before every message; the callback to hand a driver (empty when standard
// error is no terminal, so that nothing changes there).
class TerminalProgress {
public:
    TerminalProgress();
    ~TerminalProgress();
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    std::function<void(std::uint64_t done, std::uint64_t total)> callback();

private:
    std::optional<ProgressLine> line_;
};

// The clock each TerminalProgress made from now on reads, the steady clock
// unless set: the tests' builds of the programs give one they move themselves.
void set_terminal_progress_clock(ProgressLine::Clock clock);

}  // namespace quarnel
