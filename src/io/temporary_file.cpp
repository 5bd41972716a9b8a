#include "io/platform.h"

#ifdef _WIN32
#define _CRT_RAND_S  // rand_s, declared by <stdlib.h> only when asked for first
#include <stdlib.h>
#endif

#include "io/temporary_file.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <string>

#include "io/interrupt.h"

#ifdef _WIN32
#include <io.h>
#elif defined(__linux__)
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>
#endif

namespace quarnel {
namespace fs = std::filesystem;

namespace {

constexpr int kMaxNameAttempts = 64;

// Unpredictable bits for a temporary name, without exceptions: the system's
// source (rand_s on Windows, getrandom on Linux), else the clock well mixed.
// Creation is exclusive all the same.
std::uint64_t random_bits()
{
#ifdef _WIN32
    unsigned high = 0;
    unsigned low = 0;
    if (::rand_s(&high) == 0 && ::rand_s(&low) == 0) {
        return (std::uint64_t{high} << 32) | low;
    }
    const std::uint64_t process = 0;
#elif defined(__linux__)
    std::uint64_t bits = 0;
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof bits)) {
        return bits;
    }
    const auto process = static_cast<std::uint64_t>(::getpid());
#endif
    // Before the kernel's pool is ready: the clock, the process and a count, mixed.
    static std::uint64_t calls = 0;
    const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return (now ^ (process << 32) ^ ++calls) * 0x9E3779B97F4A7C15U;
}

// The naming policy: a name nobody can guess ahead of us, hidden on Linux.
std::string temporary_name()
{
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    constexpr std::uint64_t kLetters = sizeof kAlphabet - 1;
    constexpr int kLettersPerDraw = 8;
    std::string name = ".quarnel-";
    std::uint64_t bits = 0;
    for (int i = 0; i < 16; ++i) {
        if (i % kLettersPerDraw == 0) {
            bits = random_bits();
        }
        name += kAlphabet[bits % kLetters];
        bits /= kLetters;
    }
    name += ".tmp";
    return name;
}

// The registered file, as an interruption finds it: its name as
// Directory::entry gives it (on Windows a full path, as long as Windows takes
// one), the directory's descriptor (Linux) and the file's open descriptor.
using NativeChar = fs::path::value_type;
constexpr std::size_t kMaxEntryLength = 32767;
NativeChar g_entry[kMaxEntryLength + 1];
volatile std::sig_atomic_t g_directory = -1;
volatile std::sig_atomic_t g_descriptor = -1;
volatile std::sig_atomic_t g_registered = 0;

// Keeps the entry, not yet registered; -1 when it is too long to keep.
[[nodiscard]] int keep_entry(int directory, const fs::path& entry)
{
    const auto& native = entry.native();
    if (native.size() > kMaxEntryLength) {
        return -1;
    }
    std::copy(native.begin(), native.end(), g_entry);
    g_entry[native.size()] = 0;
    g_directory = directory;
    return 0;
}

// unlinkat on Linux, _wunlink on Windows: both async-signal-safe.
void remove_entry(int directory, const NativeChar* entry)
{
#ifdef _WIN32
    (void)directory;
    (void)::_wunlink(entry);
#elif defined(__linux__)
    (void)::unlinkat(directory, entry, 0);
#endif
}

}  // namespace

int TemporaryFile::create(const Directory& directory, bool as_any_new_file)
{
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
        fs::path candidate = temporary_name();
        const InterruptsHeld held;
        // One slot: a second live temporary file would have its predecessor's name overwritten.
        if (g_registered != 0 || keep_entry(directory.native_handle(), directory.entry(candidate)) != 0) {
            return -1;
        }
        FileHandle file = directory.create_exclusive(candidate, as_any_new_file);
        if (!file.is_open()) {
            if (errno == EEXIST) {
                continue;
            }
            return -1;
        }
        file_ = std::move(file);
        name_ = std::move(candidate);
        g_descriptor = file_.descriptor();
        g_registered = 1;
        return 0;
    }
    return -1;
}

int TemporaryFile::close()
{
    const InterruptsHeld held;
    g_descriptor = -1;  // not closed twice by a removal
    return file_.close();
}

void TemporaryFile::keep()
{
    g_registered = 0;
    g_descriptor = -1;
    name_.clear();
}

void TemporaryFile::discard()
{
    if (name_.empty()) {
        return;
    }
    const InterruptsHeld held;
    (void)file_.release();  // remove_registered_file() closes it
    remove_registered_file();
    name_.clear();
}

void remove_registered_file()
{
    if (g_registered == 0) {
        return;
    }
    g_registered = 0;
    // Closed first: Windows deletes no open file. The process may not outlive
    // this call, and the close's outcome changes nothing about the removal.
    const int descriptor = g_descriptor;
    g_descriptor = -1;
    (void)FileHandle(descriptor).close();
    remove_entry(g_directory, g_entry);
}

}  // namespace quarnel
