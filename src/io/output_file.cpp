#include "io/output_file.h"

#include <cerrno>
#include <random>
#include <string>

#include "io/interrupt.h"

namespace quarnel {
namespace fs = std::filesystem;

namespace {

// Linux gives up on a chain of more links than this (ELOOP).
constexpr int kMaxLinkHops = 40;
constexpr int kMaxNameAttempts = 64;

// The file a destination names once symbolic links are followed, also when
// the last link dangles: replacing it then creates the file it points to.
fs::path follow_links(const fs::path& destination)
{
    fs::path path = destination;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(path, error))) {
            return path;
        }
        const fs::path target = fs::read_symlink(path, error);
        if (error) {
            return path;
        }
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return path;
}

// A name nobody can guess ahead of us; creation is exclusive all the same.
fs::path random_temporary_name(const fs::path& directory)
{
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device entropy;
    std::string name = ".quarnel-";
    for (int i = 0; i < 16; ++i) {
        name += kAlphabet[entropy() % (sizeof kAlphabet - 1)];
    }
    name += ".tmp";
    return directory / name;
}

}  // namespace

OutputFile::~OutputFile() { discard(); }

int OutputFile::create(const fs::path& destination)
{
    target_ = follow_links(destination);
    if (target_.filename().empty()) {
        return -1;  // "" or a path ending in a separator names no file
    }
    std::error_code error;
    const fs::file_status status = fs::status(target_, error);
    if (fs::exists(status)) {
        if (!fs::is_regular_file(status)) {
            return -1;
        }
        // Read, write and execute bits only: set-user-ID and the like do not pass to new contents.
        kept_permissions_ = status.permissions() & fs::perms::all;
    } else if (status.type() != fs::file_type::not_found) {
        return -1;
    }
    return create_temporary();
}

int OutputFile::create_temporary()
{
    const fs::path directory = target_.parent_path();
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
        fs::path candidate = random_temporary_name(directory);
        const InterruptsHeld held;
        FileHandle file = create_exclusive(candidate);
        if (!file.is_open()) {
            if (errno == EEXIST) {
                continue;
            }
            return -1;
        }
        file_ = std::move(file);
        temporary_ = std::move(candidate);
        if (register_file_to_remove(temporary_, file_.descriptor()) != 0) {
            return -1;
        }
        break;
    }
    if (temporary_.empty()) {
        return -1;
    }
    if (kept_permissions_) {
        std::error_code error;
        fs::permissions(temporary_, *kept_permissions_, fs::perm_options::replace, error);
        if (error) {
            return -1;
        }
    }
    return 0;
}

int OutputFile::append(std::span<const std::uint8_t> bytes) { return write_all(file_, bytes); }

int OutputFile::overwrite_start(std::span<const std::uint8_t> bytes)
{
    if (seek_to_start(file_) != 0) {
        return -1;
    }
    return write_all(file_, bytes);
}

int OutputFile::commit()
{
    if (sync_data(file_) != 0 || file_.close() != 0) {
        return -1;
    }
    const InterruptsHeld held;
    std::error_code error;
    fs::rename(temporary_, target_, error);
    if (error) {
        return -1;
    }
    unregister_file_to_remove();
    temporary_.clear();
    return 0;
}

void OutputFile::discard()
{
    if (temporary_.empty()) {
        return;
    }
    const InterruptsHeld held;
    (void)file_.close();  // the file goes anyway
    std::error_code error;
    fs::remove(temporary_, error);
    unregister_file_to_remove();
    temporary_.clear();
}

}  // namespace quarnel
