#include <csignal>
#include <pthread.h>
#include <unistd.h>

#include "platform/interrupt.h"

namespace quarnel {
namespace {

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

// It ends the process it runs in, which saves no coverage counters; the
// interruption tests check it from outside. GCOVR_EXCL_START
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
        interrupt_system::clean_up_and_print_message();
    }
    (void)::signal(signal_number, SIG_DFL);
    // Pending until this returns; then the default action ends the process
    // the way the caller expects.
    (void)::raise(signal_number);
}
// GCOVR_EXCL_STOP

}  // namespace

// A handler for each handled signal the caller did not leave ignored.
void interrupt_system::install_handlers()
{
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
}

void interrupt_system::restore_handlers()
{
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
        if (g_installed[signal_number]) {
            (void)::sigaction(signal_number, &g_saved_actions[signal_number], nullptr);
            g_installed[signal_number] = false;
        }
    }
}

InterruptsHeld::InterruptsHeld()
{
    const sigset_t held = handled_signals();
    ::pthread_sigmask(SIG_BLOCK, &held, &saved_mask_);
}

InterruptsHeld::~InterruptsHeld()
{
    if (!until_exit_) {
        ::pthread_sigmask(SIG_SETMASK, &saved_mask_, nullptr);
    }
}

// GCOVR_EXCL_START: called from handlers, whose processes save no counters.
void write_to_standard_error_in_handler(const char* text, std::size_t length)
{
    (void)!::write(STDERR_FILENO, text, length);
}
// GCOVR_EXCL_STOP

}  // namespace quarnel
