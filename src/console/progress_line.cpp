#include "console/progress_line.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <string>
#include <utility>

#include "console/console.h"
#include "platform/interrupt.h"

namespace quarnel {
namespace {

constexpr std::string_view kEraseToEndOfScreen = "\x1b[J";
constexpr double kMebibyte = 1024.0 * 1024.0;

}  // namespace

ProgressLine::ProgressLine(Writer write, Clock clock, Terminal terminal, ProgressTiming timing, Columns columns)
    : write_(std::move(write)), clock_(std::move(clock)), terminal_(terminal), timing_(timing),
      columns_(std::move(columns)), start_(clock_())
{
}

void ProgressLine::hand_eraser_to(Writer take)
{
    const std::lock_guard lock(mutex_);
    take_eraser_ = std::move(take);
}

void ProgressLine::update(std::uint64_t done, std::uint64_t total)
{
    const std::lock_guard lock(mutex_);
    const auto now = clock_();
    if (now - start_ < timing_.delay || (last_drawn_ && now - *last_drawn_ < timing_.interval)) {
        return;
    }
    last_drawn_ = now;
    const std::uint64_t percent = total == 0 || done >= total ? 100 : done * 100 / total;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    std::array<char, 64> text{};
    const int length = std::snprintf(text.data(), text.size(), "%3u%%, %.1f MiB/s", static_cast<unsigned>(percent),
                                     static_cast<double>(done) / kMebibyte / seconds);
    if (length > 0) {
        draw(fit(std::string_view(text.data(), std::min(static_cast<std::size_t>(length), text.size() - 1))));
    }
}

// A line as wide as the terminal or wider wraps, and a carriage return goes
// back over the last part alone: the line loses its speed, else is not drawn.
std::string_view ProgressLine::fit(std::string_view text) const
{
    const std::size_t columns = columns_ ? columns_() : 0;
    if (columns == 0 || text.size() < columns) {
        return text;
    }
    const std::string_view percent = text.substr(0, text.find(','));
    return percent.size() < columns ? percent : std::string_view();
}

// "\r", then what clears `width` characters from there; on a plain console
// "\r" again. The cursor stands at the line's start (see draw()), so erasing
// to the end of the screen also clears the rows a narrowed terminal rewrapped
// the line onto.
std::string ProgressLine::eraser(std::size_t width) const
{
    std::string line(1, '\r');
    if (terminal_ == Terminal::Ansi) {
        line += kEraseToEndOfScreen;
    } else {
        line.append(width, ' ');
        line += '\r';
    }
    return line;
}

void ProgressLine::draw(std::string_view text)
{
    if (text.empty()) {
        return;
    }
    // Before the line appears: a signal between the two then erases no more than it must.
    if (take_eraser_) {
        take_eraser_(eraser(std::max(drawn_width_, text.size())));
    }
    // The cursor is left at the line's start: a terminal that rewraps the line
    // when it is narrowed keeps the cursor there, where an eraser starts.
    std::string line(1, '\r');
    if (terminal_ == Terminal::Ansi) {
        line += kEraseToEndOfScreen;
    }
    line += text;
    if (terminal_ != Terminal::Ansi && drawn_width_ > text.size()) {
        line.append(drawn_width_ - text.size(), ' ');
    }
    line += '\r';
    drawn_width_ = text.size();
    write_(line);
}

void ProgressLine::erase()
{
    const std::lock_guard lock(mutex_);
    if (drawn_width_ == 0) {
        return;
    }
    write_(eraser(drawn_width_));
    drawn_width_ = 0;
    if (take_eraser_) {
        take_eraser_("");
    }
}

namespace {

// The eraser an interruption writes before its message, where a handler reads
// it without a lock: two buffers, the one not shown rewritten and then shown
// by one atomic store of its index and length. Calls must not overlap.
constexpr std::size_t kMaxEraserLength = 255;
char g_erasers[2][kMaxEraserLength];
std::atomic<unsigned> g_shown_eraser{0};  // index << 8 | length
static_assert(std::atomic<unsigned>::is_always_lock_free);

void show_eraser_to_interruption(std::string_view eraser)
{
    const unsigned next = (g_shown_eraser.load() >> 8U) ^ 1U;
    const std::size_t length = std::min(eraser.size(), kMaxEraserLength);
    std::copy_n(eraser.data(), length, g_erasers[next]);
    g_shown_eraser.store((next << 8U) | static_cast<unsigned>(length));
}

// GCOVR_EXCL_START: runs in a handler, whose process saves no counters.
void erase_for_interruption()
{
    const unsigned shown = g_shown_eraser.load();
    write_to_standard_error_in_handler(g_erasers[shown >> 8U], shown & 0xFFU);
}
// GCOVR_EXCL_STOP

ProgressLine::Clock& terminal_progress_clock()
{
    static ProgressLine::Clock clock = [] { return std::chrono::steady_clock::now(); };
    return clock;
}

}  // namespace

void set_terminal_progress_clock(ProgressLine::Clock clock) { terminal_progress_clock() = std::move(clock); }

TerminalProgress::TerminalProgress()
{
    const Terminal terminal = standard_error_terminal();
    if (terminal == Terminal::None) {
        return;
    }
    line_.emplace([](std::string_view text) { console::print_transient(text); }, terminal_progress_clock(), terminal,
                  ProgressTiming{}, standard_error_columns);
    // A line on the screen is also what an interruption's message must erase
    // first; without a slot for that, no line is drawn.
    if (register_interrupt_cleanup(erase_for_interruption) != 0) {
        line_.reset();
        return;
    }
    line_->hand_eraser_to(show_eraser_to_interruption);
    console::set_transient_eraser([this] { line_->erase(); });
}

TerminalProgress::~TerminalProgress()
{
    if (line_) {
        line_->erase();
        console::set_transient_eraser({});
    }
}

std::function<void(std::uint64_t, std::uint64_t)> TerminalProgress::callback()
{
    if (!line_) {
        return {};
    }
    return [this](std::uint64_t done, std::uint64_t total) { line_->update(done, total); };
}

}  // namespace quarnel
