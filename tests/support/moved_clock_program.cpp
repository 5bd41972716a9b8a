// quarnel (or, with QUARNEL_TEST_INSPECT, quarnel-inspect) on a clock that
// moves a second at each reading, so that every report of progress draws the
// line however fast the run; with QUARNEL_TEST_STOP set in its environment
// the process stops itself after its first drawing, for a test to act on it
// (signal it, narrow its terminal) while that line stands.
#include <chrono>
#include <csignal>
#include <cstdlib>

#include "console/progress_line.h"
#include "main/entry_point.h"
#ifdef QUARNEL_TEST_INSPECT
#include "inspect/inspect_messages.h"
#include "main/inspect_command_line.h"
#else
#include "convert/convert_messages.h"
#include "main/command_line.h"
#endif

namespace {

std::chrono::steady_clock::time_point moved_clock()
{
    // The first reading is the run's start, the second the first drawing's.
    static int readings = 0;
    if (++readings == 3 && std::getenv("QUARNEL_TEST_STOP") != nullptr) {
        std::raise(SIGSTOP);
    }
    return std::chrono::steady_clock::time_point(std::chrono::seconds(readings));
}

}  // namespace

QUARNEL_MAIN
{
    quarnel::set_terminal_progress_clock(moved_clock);
#ifdef QUARNEL_TEST_INSPECT
    return quarnel::run_program(QUARNEL_ARGUMENTS, quarnel::run_quarnel_inspect,
                                quarnel::inspect_messages::kUnableToAllocate);
#else
    return quarnel::run_program(QUARNEL_ARGUMENTS, quarnel::run_quarnel, quarnel::messages::kUnableToAllocate);
#endif
}
