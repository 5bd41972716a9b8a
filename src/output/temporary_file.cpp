#include "output/temporary_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/interrupt.h"
#include "platform/random.h"

namespace quarnel {
namespace fs = std::filesystem;

namespace {

// The registered file, as an interruption finds it: its name as
// Directory::entry gives it (on Windows a full path), the directory's
// descriptor (Linux) and the file's open descriptor.
using NativeChar = fs::path::value_type;
NativeChar g_entry[kLongestEntry + 1];
// Lock-free atomics, which a signal handler may read and write.
std::atomic<int> g_directory{-1};
std::atomic<int> g_descriptor{-1};
std::atomic<int> g_registered{0};
static_assert(std::atomic<int>::is_always_lock_free);

// Stores the entry where a removal finds it, not yet registered; -1 when it
// is too long to store.
[[nodiscard]] int store_entry(int directory, const fs::path& entry)
{
    const auto& native = entry.native();
    if (native.size() > kLongestEntry) {
        return -1;
    }
    std::copy(native.begin(), native.end(), g_entry);
    g_entry[native.size()] = 0;
    g_directory = directory;
    return 0;
}

// The one removal routine, used by discard() and as the interrupt cleanup,
// and so async-signal-safe (no allocation, no lock; close and unlink alone):
// removes the registered file, if any, and forgets it.
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
    remove_entry_signal_safe(g_directory, g_entry);
}

}  // namespace

void misused(std::string_view what)
{
    const std::string text = "BUG: " + std::string(what) + "\n";
    write_to_standard_error_in_handler(text.data(), text.size());
    std::abort();
}

std::string unguessable_name()
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

int TemporaryFile::create(const Directory& directory, bool as_any_new_file)
{
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
        fs::path candidate = unguessable_name();
        if (register_interrupt_cleanup(remove_registered_file) != 0) {
            return -1;
        }
        const InterruptsHeld held;
        // One slot: a second live temporary file would have its predecessor's name overwritten.
        if (g_registered != 0) {
            misused("temporary file: a second one created while the first is live");
        }
        if (store_entry(directory.native_handle(), directory.entry(candidate)) != 0) {
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

void TemporaryFile::forget_renamed(const InterruptsHeld& /*held*/)
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

}  // namespace quarnel
