#include "output/temporary_file.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "output/removals.h"
#include "platform/interrupt.h"
#include "platform/random.h"

namespace quarnel {
namespace fs = std::filesystem;

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
        const InterruptsHeld held;
        if (removals::begin(directory.native_handle(),
                            "temporary file: a second one created while the first is live") != 0 ||
            removals::note(directory.entry(candidate).native(), false) != 0) {
            removals::forget_all();
            return -1;
        }
        FileHandle file = directory.create_exclusive(candidate, as_any_new_file);
        if (!file.is_open()) {
            removals::forget_all();  // nothing was made under the name
            if (errno == EEXIST) {
                continue;
            }
            return -1;
        }
        file_ = std::move(file);
        name_ = std::move(candidate);
        removals::writing(file_.descriptor());
        return 0;
    }
    return -1;
}

int TemporaryFile::close()
{
    const InterruptsHeld held;
    removals::writing(-1);  // not closed twice by a removal
    return file_.close();
}

void TemporaryFile::forget_renamed(const InterruptsHeld& /*held*/)
{
    removals::forget_all();
    name_.clear();
}

void TemporaryFile::discard()
{
    if (name_.empty()) {
        return;
    }
    const InterruptsHeld held;
    (void)file_.release();  // the removal closes it
    removals::remove_all();
    name_.clear();
}

}  // namespace quarnel
