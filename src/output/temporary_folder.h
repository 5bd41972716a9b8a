// A folder made whole before anyone sees it: its entries are made inside a
// private folder of an unguessable name beside the destination, each noted
// before it is made, and the folder is moved into place when complete. A
// failure (discard()) or an interruption removes what was made by the one
// same routine, an interrupt cleanup (platform/interrupt.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "platform/directory.h"
#include "platform/file_io.h"
#include "platform/interrupt.h"

namespace quarnel {

// States:
//   none     before create(), after place() or discard();
//   making   the private folder and the folder in it made and registered.
// create(): none -> making. place(): making -> none, the folder in place.
// discard() and the destructor: making -> none, everything made removed.
// One at a time: a second while one is live ends the process as a bug.
class TemporaryFolder {
public:
    TemporaryFolder() = default;
    ~TemporaryFolder() { discard(); }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    // Makes, in `parent` (which must outlive it), a private folder and in it
    // the folder `name`, with what any new folder gets in `parent`'s place,
    // so that it keeps those permissions once moved. 0 / -1.
    [[nodiscard]] int create(const Directory& parent, const std::filesystem::path& name);

    // The folder being made, to make its entries in.
    const Directory& folder() const { return *folder_; }

    // Notes the entry at `path` below the folder (names joined by the
    // platform's separator) before it is made, so that a removal finds it;
    // entries are removed in the reverse order of their notes. 0 / -1.
    [[nodiscard]] int note(const std::filesystem::path& path, bool directory);

    // The file now written in the folder, which an interruption closes
    // before it removes it (Windows deletes no open file); nullptr once it
    // is closed.
    static void writing(const FileHandle* file);

    // Moves the complete folder to its name in the parent, which must still
    // be free (-1, errno EEXIST, otherwise), and makes the move durable.
    [[nodiscard]] int place();
    void discard();

private:
    const Directory* parent_ = nullptr;
    std::filesystem::path private_name_;
    std::filesystem::path name_;
    std::optional<Directory> private_;
    std::optional<Directory> folder_;
};

}  // namespace quarnel
