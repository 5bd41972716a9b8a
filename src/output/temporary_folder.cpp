#include "output/temporary_folder.h"

#include <atomic>
#include <cerrno>
#include <vector>

#include "output/temporary_file.h"
#include "platform/file_io.h"
#include "platform/folder_making.h"

namespace quarnel {
namespace fs = std::filesystem;

namespace {

// What was made, as an interruption finds it: each entry as the parent's
// Directory::entry gives it, the private folder first, then the folder in
// it, then whatever was noted. Changed only under an InterruptsHeld, so that
// a removal never meets it half-changed.
struct Noted {
    fs::path::string_type entry;
    bool directory = false;
};
std::vector<Noted> g_noted;
std::atomic<std::size_t> g_count{0};
std::atomic<int> g_parent{-1};
std::atomic<int> g_open{-1};  // the file being written
static_assert(std::atomic<std::size_t>::is_always_lock_free);

// The one removal routine, used by discard() and place() and as the
// interrupt cleanup, and so async-signal-safe (no allocation, no lock; unlink
// alone): removes the noted entries, the last noted first, and forgets them.
void remove_noted()
{
    for (std::size_t i = g_count; i > 0; --i) {
        g_count = i - 1;
        const Noted& noted = g_noted[i - 1];
        if (noted.directory) {
            remove_directory_signal_safe(g_parent, noted.entry.c_str());
        } else {
            remove_entry_signal_safe(g_parent, noted.entry.c_str());
        }
    }
}

// An interruption closes the file being written first: Windows deletes no
// open file. The process ends after it, so nobody uses the descriptor again.
void remove_on_interrupt()
{
    const int open = g_open.exchange(-1);
    if (open >= 0) {
        (void)FileHandle(open).close();
    }
    remove_noted();
}

// Notes an entry under the hold the caller keeps. -1 when it is too long to remove.
[[nodiscard]] int add_note(fs::path::string_type entry, bool directory)
{
    if (entry.size() > kLongestEntry) {  // so that every noted entry can be removed
        errno = ENAMETOOLONG;
        return -1;
    }
    g_noted.resize(g_count);
    g_noted.push_back({std::move(entry), directory});
    g_count = g_noted.size();
    return 0;
}

}  // namespace

int TemporaryFolder::create(const Directory& parent, const fs::path& name)
{
    if (register_interrupt_cleanup(remove_on_interrupt) != 0) {
        return -1;
    }
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
        const fs::path candidate = unguessable_name();
        const InterruptsHeld held;
        if (g_count != 0) {
            misused("temporary folder: a second one created while the first is live");
        }
        g_parent = parent.native_handle();
        if (add_note(parent.entry(candidate).native(), true) != 0) {
            return -1;
        }
        if (make_directory(parent, candidate, true) != 0) {
            g_count = 0;
            if (errno == EEXIST) {
                continue;
            }
            return -1;
        }
        parent_ = &parent;
        private_name_ = candidate;
        name_ = name;
        private_ = parent.open_directory(candidate);
        if (!private_ || add_note(parent.entry(candidate / name).native(), true) != 0 ||
            make_directory(*private_, name, false) != 0 || !(folder_ = private_->open_directory(name))) {
            discard();
            return -1;
        }
        return 0;
    }
    return -1;
}

int TemporaryFolder::note(const fs::path& path, bool directory)
{
    const InterruptsHeld held;
    return add_note(parent_->entry(private_name_ / name_ / path).native(), directory);
}

int TemporaryFolder::place()
{
    InterruptsHeld held;
    if (move_without_replacing(*private_, name_, *parent_, name_) != 0) {
        return -1;  // the hold ends: a signal that came meanwhile is acted on now
    }
    g_count = 1;  // what is left to remove: the private folder, empty now
    // The outcome is final: the folder is in place.
    held.hold_until_exit();
    const int flushed = parent_->flush(name_);
    discard();
    return flushed;
}

void TemporaryFolder::writing(const FileHandle* file) { g_open = file != nullptr ? file->descriptor() : -1; }

void TemporaryFolder::discard()
{
    if (parent_ == nullptr) {
        return;
    }
    g_open = -1;  // its handle's owner closes it
    folder_.reset();
    private_.reset();
    {
        const InterruptsHeld held;
        remove_noted();
        g_noted.clear();
    }
    parent_ = nullptr;
}

}  // namespace quarnel
