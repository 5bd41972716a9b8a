// What an interruption removes, one list for the temporary file and the
// temporary folder alike: entries of one directory, as Directory::entry gives
// them, removed the last noted first, and the file being written, closed
// before them (Windows deletes no open file). One removal routine serves a
// discard and the interrupt cleanup (platform/interrupt.h), and so is
// async-signal-safe. The list is changed only under an InterruptsHeld, the
// caller's, so that a removal never meets it half-changed.
#pragma once

#include <filesystem>
#include <string_view>

namespace quarnel {

// A caller that breaks a one-at-a-time rule is a fault of the program, not
// of the run: said loudly and ended at once, as no status could undo it.
[[noreturn]] void misused(std::string_view what);

}  // namespace quarnel

namespace quarnel::removals {

// Starts the list in the directory whose native_handle() is `directory`,
// the cleanup registered. One list at a time: a second begun while one is
// live ends the process as a bug, `who` naming it. 0 / -1.
[[nodiscard]] int begin(int directory, std::string_view who);

// Notes an entry to remove, a folder (removed once empty) or not. -1,
// errno ENAMETOOLONG, when it is too long for the removal calls.
[[nodiscard]] int note(std::filesystem::path::string_type entry, bool folder);

// Keeps the first `count` entries noted and forgets the rest, which are
// gone or now someone else's.
void keep_first(std::size_t count);

// The file being written, which a removal closes first; -1 for none.
void writing(int descriptor);

// Removes every entry noted, the file being written closed first, and ends the list.
void remove_all();

// Ends the list, leaving what was noted where it is.
void forget_all();

}  // namespace quarnel::removals
