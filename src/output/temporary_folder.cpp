#include "output/temporary_folder.h"

#include <cerrno>

#include "output/removals.h"
#include "output/temporary_file.h"
#include "platform/file_io.h"
#include "platform/folder_making.h"

namespace quarnel {
namespace fs = std::filesystem;

int TemporaryFolder::create(const Directory& parent, const fs::path& name)
{
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
        const fs::path candidate = unguessable_name();
        const InterruptsHeld held;
        if (removals::begin(parent.native_handle(), "temporary folder: a second one created while the first is live") !=
                0 ||
            removals::note(parent.entry(candidate).native(), true) != 0) {
            removals::forget_all();
            return -1;
        }
        if (make_directory(parent, candidate, true) != 0) {
            removals::forget_all();  // nothing was made under the name
            if (errno == EEXIST) {
                continue;
            }
            return -1;
        }
        parent_ = &parent;
        private_name_ = candidate;
        name_ = name;
        private_ = parent.open_directory(candidate);
        if (!private_ || removals::note(parent.entry(candidate / name).native(), true) != 0 ||
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
    return removals::note(parent_->entry(private_name_ / name_ / path).native(), directory);
}

int TemporaryFolder::place()
{
    InterruptsHeld held;
    if (move_without_replacing(*private_, name_, *parent_, name_) != 0) {
        return -1;  // the hold ends: a signal that came meanwhile is acted on now
    }
    removals::keep_first(1);  // what is left to remove: the private folder, empty now
    // The outcome is final: the folder is in place.
    held.hold_until_exit();
    const int flushed = parent_->flush(name_);
    discard();
    return flushed;
}

void TemporaryFolder::writing(const FileHandle* file) { removals::writing(file != nullptr ? file->descriptor() : -1); }

void TemporaryFolder::discard()
{
    if (parent_ == nullptr) {
        return;
    }
    folder_.reset();
    private_.reset();
    {
        const InterruptsHeld held;
        removals::writing(-1);  // its handle's owner closes it
        removals::remove_all();
    }
    parent_ = nullptr;
}

}  // namespace quarnel
