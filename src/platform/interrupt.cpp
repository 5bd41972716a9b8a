#include "platform/interrupt.h"

#include <atomic>
#include <csignal>

#include "platform/platform.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#elif defined(__linux__)
#include <pthread.h>
#include <unistd.h>
#endif

namespace quarnel {
namespace {

const char* g_message = nullptr;
std::size_t g_message_length = 0;

// The cleanups, where a handler reads them without a lock: a slot is filled
// once and never emptied, so a handler sees a cleanup whole or not at all.
std::atomic<InterruptCleanup> g_cleanups[kMaxInterruptCleanups];
static_assert(std::atomic<InterruptCleanup>::is_always_lock_free);

// What follows runs only in a process that a signal or a console event then
// ends, which saves no coverage counters; the interruption tests check it
// from outside. GCOVR_EXCL_START
// What every handler does before the process ends: async-signal-safe.
void clean_up_and_print_message()
{
    for (const auto& slot : g_cleanups) {
        if (const InterruptCleanup cleanup = slot.load(); cleanup != nullptr) {
            cleanup();
        }
    }
    write_to_standard_error_in_handler(g_message, g_message_length);
}
// GCOVR_EXCL_STOP

#ifdef _WIN32

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

BOOL WINAPI on_console_event(DWORD /*event*/)
{
    ::EnterCriticalSection(&hold_lock().section);
    clean_up_and_print_message();
    ::_exit(-1);
}

#elif defined(__linux__)

// Every signal whose default action ends the process, except those that
// report a fault of the program itself (SIGSEGV, SIGBUS, SIGILL, SIGFPE,
// SIGABRT, SIGSYS, SIGTRAP), which stay as they are for a debugger or a
// sanitizer to see. SIGPIPE and SIGXFSZ are ignored instead (platform/startup.h).
// SIGPOLL is Linux's name for SIGIO; SIGPWR and SIGSTKFLT exist on some of
// Linux's architectures only.
constexpr int kFixedSignals[] = {
    SIGHUP,    SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGPOLL,
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};

// The real-time signals end the process too; their range is known only at run time.
sigset_t handled_signals()
{
    sigset_t set;
    sigemptyset(&set);
    for (int signal_number : kFixedSignals) {
        sigaddset(&set, signal_number);
    }
    for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number) {
        sigaddset(&set, signal_number);
    }
    return set;
}

pthread_t g_handling_thread;
volatile std::sig_atomic_t g_acted = 0;
struct sigaction g_saved_actions[NSIG];
bool g_installed[NSIG];

// Like the routine above, it ends the process it runs in. GCOVR_EXCL_START
void on_signal(int signal_number)
{
    if (::pthread_equal(::pthread_self(), g_handling_thread) == 0) {
        // Acted on where the file is (un)registered under a hold.
        (void)::pthread_kill(g_handling_thread, signal_number);
        return;
    }
    // A second signal pending behind the first only ends the process.
    if (g_acted == 0) {
        g_acted = 1;
        clean_up_and_print_message();
    }
    (void)::signal(signal_number, SIG_DFL);
    // Pending until this returns; then the default action ends the process
    // the way the caller expects.
    (void)::raise(signal_number);
}
// GCOVR_EXCL_STOP

#endif

// A console-event handler on Windows; on Linux a handler for each handled
// signal the caller did not leave ignored.
void install_handlers()
{
#ifdef _WIN32
    ::SetConsoleCtrlHandler(on_console_event, TRUE);
#elif defined(__linux__)
    g_handling_thread = ::pthread_self();
    struct sigaction action {};
    action.sa_handler = on_signal;
    action.sa_flags = SA_RESTART;
    action.sa_mask = handled_signals();
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
        struct sigaction current {};
        if (sigismember(&action.sa_mask, signal_number) != 1 || ::sigaction(signal_number, nullptr, &current) != 0) {
            continue;
        }
        // Ignored by the caller (a background job, a launcher): it stays ignored.
        if (current.sa_handler == SIG_IGN) {
            continue;
        }
        g_installed[signal_number] = ::sigaction(signal_number, &action, &g_saved_actions[signal_number]) == 0;
    }
#endif
}

void restore_handlers()
{
#ifdef _WIN32
    ::SetConsoleCtrlHandler(on_console_event, FALSE);
#elif defined(__linux__)
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
        if (g_installed[signal_number]) {
            (void)::sigaction(signal_number, &g_saved_actions[signal_number], nullptr);
            g_installed[signal_number] = false;
        }
    }
#endif
}

}  // namespace

InterruptHandling::InterruptHandling(std::string_view message)
{
    g_message = message.data();
    g_message_length = message.size();
    install_handlers();
}

InterruptHandling::~InterruptHandling() { restore_handlers(); }

InterruptsHeld::InterruptsHeld()
{
#ifdef _WIN32
    ::EnterCriticalSection(&hold_lock().section);
#elif defined(__linux__)
    const sigset_t held = handled_signals();
    ::pthread_sigmask(SIG_BLOCK, &held, &saved_mask_);
#endif
}

InterruptsHeld::~InterruptsHeld()
{
    if (until_exit_) {
        return;
    }
#ifdef _WIN32
    ::LeaveCriticalSection(&hold_lock().section);
#elif defined(__linux__)
    ::pthread_sigmask(SIG_SETMASK, &saved_mask_, nullptr);
#endif
}

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

// GCOVR_EXCL_START: called from handlers, whose processes save no counters.
// Standard error on both platforms: write on Linux, _write on Windows.
void write_to_standard_error_in_handler(const char* text, std::size_t length)
{
#ifdef _WIN32
    (void)::_write(2, text, static_cast<unsigned>(length));
#elif defined(__linux__)
    (void)!::write(STDERR_FILENO, text, length);
#endif
}
// GCOVR_EXCL_STOP

}  // namespace quarnel
