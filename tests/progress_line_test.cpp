#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "console/progress_line.h"

namespace quarnel {
namespace {

using std::chrono::milliseconds;
constexpr std::uint64_t kMiB = 1024 * 1024;

// A clock the test moves by hand, and the writes the line made.
struct Harness {
    explicit Harness(Terminal terminal)
        : line([this](std::string_view text) { written.emplace_back(text); }, [this] { return now; }, terminal)
    {
    }
    void at(int ms, std::uint64_t done, std::uint64_t total = 100 * kMiB)
    {
        now = std::chrono::steady_clock::time_point(milliseconds(ms));
        line.update(done, total);
    }
    std::chrono::steady_clock::time_point now{};
    std::vector<std::string> written;
    ProgressLine line;
};

TEST(ProgressLine, DrawsAfterTheDelayAtTheIntervalAndErasesOnce)
{
    Harness h(Terminal::Ansi);
    h.at(0, 0);
    h.at(499, 40 * kMiB);
    h.line.erase();
    EXPECT_TRUE(h.written.empty()) << "a short run shows nothing, nor erases it";
    h.at(500, 50 * kMiB);
    h.at(600, 60 * kMiB);
    h.at(749, 70 * kMiB);
    h.at(750, 75 * kMiB);
    h.at(1000, 100 * kMiB);
    // Each drawing clears to the end of the screen and leaves the cursor at the line's start.
    EXPECT_EQ(h.written, (std::vector<std::string>{"\r\x1b[J 50%, 100.0 MiB/s\r", "\r\x1b[J 75%, 100.0 MiB/s\r",
                                                   "\r\x1b[J100%, 100.0 MiB/s\r"}));
    h.written.clear();
    h.line.erase();
    h.line.erase();
    EXPECT_EQ(h.written, (std::vector<std::string>{"\r\x1b[J"}));
}

TEST(ProgressLine, PlainConsoleErasesWithSpaces)
{
    Harness h(Terminal::PlainConsole);
    h.at(2000, 512 * kMiB, 1024 * kMiB);  // " 50%, 256.0 MiB/s", 17 characters
    h.at(8000, 512 * kMiB, 1024 * kMiB);  // " 50%, 64.0 MiB/s", one shorter
    h.line.erase();
    EXPECT_EQ(h.written, (std::vector<std::string>{"\r 50%, 256.0 MiB/s\r", "\r 50%, 64.0 MiB/s \r",
                                                   "\r" + std::string(16, ' ') + "\r"}));
}

TEST(ProgressLine, HandsOnAnEraserWideEnoughForWhatItDrew)
{
    Harness h(Terminal::PlainConsole);
    std::vector<std::string> erasers;
    h.line.hand_eraser_to([&](std::string_view eraser) { erasers.emplace_back(eraser); });
    h.at(2000, 512 * kMiB, 1024 * kMiB);  // 17 characters
    h.at(8000, 512 * kMiB, 1024 * kMiB);  // 16, drawn over the 17
    h.line.erase();
    const std::string seventeen = "\r" + std::string(17, ' ') + "\r";
    EXPECT_EQ(erasers, (std::vector<std::string>{seventeen, seventeen, ""}));
}

TEST(ProgressLine, EmptyTotalCountsAsDone)
{
    Harness h(Terminal::Ansi);
    h.at(1000, 0, 0);
    EXPECT_EQ(h.written, (std::vector<std::string>{"\r\x1b[J100%, 0.0 MiB/s\r"}));
}

}  // namespace
}  // namespace quarnel
