#include "platform/interrupt.h"

#include <atomic>

namespace quarnel {
namespace {

const char* g_message = nullptr;
std::size_t g_message_length = 0;

// The cleanups, where a handler reads them without a lock: a slot is filled
// once and never emptied, so a handler sees a cleanup whole or not at all.
std::atomic<InterruptCleanup> g_cleanups[kMaxInterruptCleanups];
static_assert(std::atomic<InterruptCleanup>::is_always_lock_free);

}  // namespace

// What follows runs only in a process that a signal or a console event then
// ends, which saves no coverage counters; the interruption tests check it
// from outside. GCOVR_EXCL_START
void interrupt_system::clean_up_and_print_message()
{
    for (const auto& slot : g_cleanups) {
        if (const InterruptCleanup cleanup = slot.load(); cleanup != nullptr) {
            cleanup();
        }
    }
    write_to_standard_error_in_handler(g_message, g_message_length);
}
// GCOVR_EXCL_STOP

InterruptHandling::InterruptHandling(std::string_view message)
{
    g_message = message.data();
    g_message_length = message.size();
    interrupt_system::install_handlers();
}

InterruptHandling::~InterruptHandling() { interrupt_system::restore_handlers(); }

int register_interrupt_cleanup(InterruptCleanup cleanup)
{
    // Under a hold, so that a handler of this thread never sees a slot half taken.
    const InterruptsHeld held;
    for (auto& slot : g_cleanups) {
        InterruptCleanup expected = nullptr;
        if (slot.compare_exchange_strong(expected, cleanup) || expected == cleanup) {
            return 0;
        }
    }
    return -1;
}

}  // namespace quarnel
