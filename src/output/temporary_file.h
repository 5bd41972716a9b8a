// The temporary file an output file is written to: its unguessable name, its
// exclusive creation in the destination's directory, and its registration,
// so that an interruption removes it by the same routine a discard does (an
// interrupt cleanup, platform/interrupt.h).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/directory.h"
#include "platform/file_io.h"
#include "platform/interrupt.h"

namespace quarnel {

// The naming policy of what is made before its place: a name nobody can
// guess ahead of us, hidden on Linux.
std::string unguessable_name();
inline constexpr int kMaxNameAttempts = 64;

// States, as handle() and name() show them:
//   none        no file: before create(), after forget_renamed() or discard();
//   open        created and registered, the handle open for writing;
//   closed      flushed and closed for its rename, still registered.
// create(): none -> open. close(): open -> closed. forget_renamed(): open or
// closed -> none, the file staying under another name. discard() and the destructor:
// open or closed -> none, the file removed.
class TemporaryFile {
public:
    TemporaryFile() = default;
    ~TemporaryFile() { discard(); }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // A new file under a new unguessable name in `directory`, which must
    // outlive it; readable and writable by its owner alone, or with
    // `as_any_new_file` as Directory::create_exclusive() says. One at a time:
    // a second while one is live ends the process as a bug.
    [[nodiscard]] int create(const Directory& directory, bool as_any_new_file = false);

    const FileHandle& handle() const { return file_; }
    // Its name in the directory; empty in the state none.
    const std::filesystem::path& name() const { return name_; }

    // Closes the handle and reports whether the close succeeded (0 / -1).
    [[nodiscard]] int close();
    // Its name was renamed away: nothing is left to remove. Under `held`, so
    // that no interruption comes between the rename and this.
    void forget_renamed(const InterruptsHeld& held);
    void discard();

private:
    FileHandle file_;
    std::filesystem::path name_;
};

}  // namespace quarnel
