#include "io/interrupt.h"

#include <algorithm>
#include <cassert>
#include <csignal>

#ifdef _WIN32
#include <io.h>
#include <stdlib.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>
#endif

namespace quarnel {
namespace {

using NativeChar = std::filesystem::path::value_type;

constexpr std::size_t kMaxNameLength = 4096;
NativeChar g_name_to_remove[kMaxNameLength + 1];
volatile std::sig_atomic_t g_directory = -1;
volatile std::sig_atomic_t g_descriptor_to_close = -1;
volatile std::sig_atomic_t g_have_file_to_remove = 0;
const char* g_message = nullptr;
std::size_t g_message_length = 0;
volatile std::sig_atomic_t g_line_to_erase = static_cast<int>(Terminal::None);

// What erases a progress line, as its drawing does, by Terminal value; a
// handler writes it before its message (nothing when no line stands).
constexpr std::string_view kLineErasers[] = {"", "\r\x1b[K", "\r                                        \r"};
static_assert(static_cast<int>(Terminal::None) == 0 && static_cast<int>(Terminal::Ansi) == 1 &&
              static_cast<int>(Terminal::PlainConsole) == 2);

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
    if (g_have_file_to_remove != 0) {
        // Windows keeps an open file from being deleted.
        ::_close(g_descriptor_to_close);
        ::_wunlink(g_name_to_remove);
    }
    const std::string_view eraser = kLineErasers[g_line_to_erase];
    ::_write(2, eraser.data(), static_cast<unsigned>(eraser.size()));
    ::_write(2, g_message, static_cast<unsigned>(g_message_length));
    ::_exit(-1);
}

void install_handlers() { ::SetConsoleCtrlHandler(on_console_event, TRUE); }

void restore_handlers() { ::SetConsoleCtrlHandler(on_console_event, FALSE); }

#else

// Every signal whose default action ends the process, except those that
// report a fault of the program itself (SIGSEGV, SIGBUS, SIGILL, SIGFPE,
// SIGABRT, SIGSYS, SIGTRAP), which stay as they are for a debugger or a
// sanitizer to see. SIGPIPE and SIGXFSZ are ignored instead.
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
        if (g_have_file_to_remove != 0) {
            (void)::unlinkat(g_directory, g_name_to_remove, 0);
        }
        const std::string_view eraser = kLineErasers[g_line_to_erase];
        (void)!::write(STDERR_FILENO, eraser.data(), eraser.size());
        (void)!::write(STDERR_FILENO, g_message, g_message_length);
    }
    (void)::signal(signal_number, SIG_DFL);
    // Pending until this returns; then the default action ends the process
    // the way the caller expects.
    (void)::raise(signal_number);
}

void install_handlers()
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

void restore_handlers()
{
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
        if (g_installed[signal_number]) {
            (void)::sigaction(signal_number, &g_saved_actions[signal_number], nullptr);
            g_installed[signal_number] = false;
        }
    }
}

#endif

}  // namespace

InterruptHandling::InterruptHandling(std::string_view message)
{
    g_message = message.data();
    g_message_length = message.size();
    install_handlers();
}

InterruptHandling::~InterruptHandling() { restore_handlers(); }

#ifdef _WIN32

InterruptsHeld::InterruptsHeld() { ::EnterCriticalSection(&hold_lock().section); }

InterruptsHeld::~InterruptsHeld()
{
    if (!kept_) {
        ::LeaveCriticalSection(&hold_lock().section);
    }
}

void ignore_write_signals() {}

#else

InterruptsHeld::InterruptsHeld()
{
    const sigset_t held = handled_signals();
    ::pthread_sigmask(SIG_BLOCK, &held, &saved_mask_);
}

InterruptsHeld::~InterruptsHeld()
{
    if (!kept_) {
        ::pthread_sigmask(SIG_SETMASK, &saved_mask_, nullptr);
    }
}

void ignore_write_signals()
{
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    (void)::sigaction(SIGPIPE, &ignore, nullptr);
    (void)::sigaction(SIGXFSZ, &ignore, nullptr);
}

#endif

int register_file_to_remove(int directory, const std::filesystem::path& name, int descriptor)
{
    // One slot: a second live output file would have its predecessor's name overwritten.
    assert(g_have_file_to_remove == 0);
    const auto& native = name.native();
    if (native.size() > kMaxNameLength) {
        return -1;
    }
    g_have_file_to_remove = 0;
    std::copy(native.begin(), native.end(), g_name_to_remove);
    g_name_to_remove[native.size()] = 0;
    g_directory = directory;
    g_descriptor_to_close = descriptor;
    g_have_file_to_remove = 1;
    return 0;
}

void unregister_file_to_remove()
{
    g_have_file_to_remove = 0;
    g_descriptor_to_close = -1;
}

void set_line_to_erase(Terminal terminal) { g_line_to_erase = static_cast<int>(terminal); }

}  // namespace quarnel
