#include "output/removals.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "platform/directory.h"
#include "platform/file_io.h"
#include "platform/folder_making.h"
#include "platform/interrupt.h"

namespace quarnel {

void misused(std::string_view what)
{
    std::string text = "BUG: ";
    text.append(what).append("\n");
    write_to_standard_error_in_handler(text.data(), text.size());
    std::abort();
}

}  // namespace quarnel

namespace quarnel::removals {
namespace fs = std::filesystem;

namespace {

struct Noted {
    fs::path::string_type entry;
    bool folder = false;
};
// Read by the removal through the count alone, which only grows once an
// entry is whole; lock-free atomics, which a signal handler may read and write.
std::vector<Noted> g_noted;
std::atomic<std::size_t> g_count{0};
std::atomic<int> g_directory{-1};
std::atomic<int> g_open{-1};
std::atomic<bool> g_live{false};
static_assert(std::atomic<std::size_t>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

// The one removal routine: no allocation, no lock; close and unlink alone.
void remove_noted()
{
    const int open = g_open.exchange(-1);
    if (open >= 0) {
        (void)FileHandle(open).close();  // the process may not outlive this; the removal is what counts
    }
    for (std::size_t i = g_count; i > 0; --i) {
        g_count = i - 1;
        const Noted& noted = g_noted[i - 1];
        if (noted.folder) {
            remove_directory_signal_safe(g_directory, noted.entry.c_str());
        } else {
            remove_entry_signal_safe(g_directory, noted.entry.c_str());
        }
    }
    g_live = false;
}

}  // namespace

int begin(int directory, std::string_view who)
{
    if (register_interrupt_cleanup(remove_noted) != 0) {
        return -1;
    }
    if (g_live) {
        misused(who);
    }
    g_noted.clear();
    g_count = 0;
    g_open = -1;
    g_directory = directory;
    g_live = true;
    return 0;
}

int note(fs::path::string_type entry, bool folder)
{
    if (entry.size() > kLongestEntry) {
        errno = ENAMETOOLONG;
        return -1;
    }
    g_noted.resize(g_count);
    g_noted.push_back({std::move(entry), folder});
    g_count = g_noted.size();
    return 0;
}

void keep_first(std::size_t count)
{
    if (count < g_count) {
        g_count = count;
    }
}

void writing(int descriptor) { g_open = descriptor; }

void remove_all() { remove_noted(); }

void forget_all()
{
    g_open = -1;
    g_count = 0;
    g_live = false;
}

}  // namespace quarnel::removals
