#include "io/interrupt.h"

#include <algorithm>
#include <cassert>
#include <csignal>

#ifdef _WIN32
#include <io.h>
#include <stdlib.h>
#else
#include <unistd.h>
#endif

namespace quarnel {
namespace {

using NativeChar = std::filesystem::path::value_type;

constexpr std::size_t kMaxPathLength = 4096;
NativeChar g_path_to_remove[kMaxPathLength + 1];
volatile std::sig_atomic_t g_descriptor_to_close = -1;
volatile std::sig_atomic_t g_have_path_to_remove = 0;
const char* g_message = nullptr;
std::size_t g_message_length = 0;

constexpr int kHandledSignals[] = {SIGINT, SIGTERM};

#ifdef _WIN32

void on_interrupt(int)
{
    if (g_have_path_to_remove != 0) {
        // Windows keeps an open file from being deleted.
        ::_close(g_descriptor_to_close);
        ::_wunlink(g_path_to_remove);
    }
    ::_write(2, g_message, static_cast<unsigned>(g_message_length));
    ::_exit(-1);
}

using SavedHandler = void (*)(int);
SavedHandler g_saved_handlers[std::size(kHandledSignals)];

void install_handlers()
{
    for (std::size_t i = 0; i < std::size(kHandledSignals); ++i) {
        g_saved_handlers[i] = std::signal(kHandledSignals[i], on_interrupt);
    }
}

void restore_handlers()
{
    for (std::size_t i = 0; i < std::size(kHandledSignals); ++i) {
        std::signal(kHandledSignals[i], g_saved_handlers[i]);
    }
}

#else

void on_interrupt(int signal_number)
{
    if (g_have_path_to_remove != 0) {
        ::unlink(g_path_to_remove);
    }
    (void)!::write(STDERR_FILENO, g_message, g_message_length);
    // The handler was reset to the default action on entry: once this returns,
    // the re-raised signal ends the process the way the shell expects.
    (void)::raise(signal_number);
}

struct sigaction g_saved_actions[std::size(kHandledSignals)];

void install_handlers()
{
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int signal_number : kHandledSignals) {
        sigaddset(&action.sa_mask, signal_number);
    }
    for (std::size_t i = 0; i < std::size(kHandledSignals); ++i) {
        ::sigaction(kHandledSignals[i], &action, &g_saved_actions[i]);
    }
}

void restore_handlers()
{
    for (std::size_t i = 0; i < std::size(kHandledSignals); ++i) {
        ::sigaction(kHandledSignals[i], &g_saved_actions[i], nullptr);
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

InterruptsHeld::InterruptsHeld() = default;
InterruptsHeld::~InterruptsHeld() = default;

#else

InterruptsHeld::InterruptsHeld()
{
    sigset_t held;
    sigemptyset(&held);
    for (int signal_number : kHandledSignals) {
        sigaddset(&held, signal_number);
    }
    ::pthread_sigmask(SIG_BLOCK, &held, &saved_mask_);
}

InterruptsHeld::~InterruptsHeld() { ::pthread_sigmask(SIG_SETMASK, &saved_mask_, nullptr); }

#endif

int register_file_to_remove(const std::filesystem::path& path, int descriptor)
{
    // One slot: a second live output file would have its predecessor's path overwritten.
    assert(g_have_path_to_remove == 0);
    const auto& native = path.native();
    if (native.size() > kMaxPathLength) {
        return -1;
    }
    g_have_path_to_remove = 0;
    std::copy(native.begin(), native.end(), g_path_to_remove);
    g_path_to_remove[native.size()] = 0;
    g_descriptor_to_close = descriptor;
    g_have_path_to_remove = 1;
    return 0;
}

void unregister_file_to_remove()
{
    g_have_path_to_remove = 0;
    g_descriptor_to_close = -1;
}

}  // namespace quarnel
