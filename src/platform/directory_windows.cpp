#include <cerrno>
#include <io.h>
#include <windows.h>

#include "platform/directory.h"
#include "platform/file_calls.h"
#include "platform/reparse_point.h"

namespace quarnel {
namespace fs = std::filesystem;

namespace {

// Linux's limit for a link's target, kept for the same refusal here.
constexpr std::size_t kMaxLinkLength = 4096;

}  // namespace

// Not opened: a missing one shows when a file is created.
std::optional<Directory> Directory::open_directory(const fs::path& path) const
{
    Directory opened;
    opened.path_ = path_ / path;
    return opened;
}

int Directory::native_handle() const { return -1; }

fs::path Directory::entry(const fs::path& name) const { return windows_path(path_ / name); }

// The C++ library here sees no links, so the listing's attributes and tag
// tell (platform/reparse_point.h); the rest comes from symlink_status, given
// the path as written, since the C runtime's stat refuses the \\?\ prefix.
DirectoryEntry Directory::look_at(const fs::path& name) const
{
    using Kind = DirectoryEntry::Kind;
    DirectoryEntry found;
    WIN32_FIND_DATAW data{};
    const HANDLE search = ::FindFirstFileW(entry(name).c_str(), &data);
    if (search != INVALID_HANDLE_VALUE) {
        ::FindClose(search);
        if (windows_entry_kind(data.dwFileAttributes, data.dwReserved0) == WindowsEntryKind::Link) {
            found.kind = Kind::Link;
            return found;
        }
    }
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path_ / name, error);
    const fs::file_type type = status.type();
    found.kind = type == fs::file_type::not_found ? Kind::Missing
                 : type == fs::file_type::symlink ? Kind::Link
                 : type == fs::file_type::regular ? Kind::Regular
                 : type == fs::file_type::none    ? Kind::Unreadable
                                                  : Kind::Other;
    found.permissions = static_cast<unsigned>(status.permissions() & fs::perms::all);
    return found;
}

// The file the link leads to, as the system resolves it: a link that leads
// nowhere is refused rather than created through.
int Directory::read_link(const fs::path& name, fs::path& target) const
{
    const std::wstring resolved = QueriedFile(entry(name)).final_path();
    if (resolved.empty() || resolved.size() >= kMaxLinkLength) {
        return -1;
    }
    target = resolved;
    return 0;
}

bool Directory::may_write(const fs::path& /*name*/, const DirectoryEntry& file) const
{
    return (file.permissions & static_cast<unsigned>(fs::perms::owner_write)) != 0;
}

bool Directory::may_follow_link(const DirectoryEntry& /*link*/) const { return true; }

bool Directory::may_replace(const DirectoryEntry& /*file*/) const { return true; }

bool Directory::is_locked() const { return false; }

// Windows names a file by its volume and index, whatever the spelling.
bool Directory::holds(const fs::path& name, const DirectoryEntry& looked_at, const FileHandle& file) const
{
    if (looked_at.kind == DirectoryEntry::Kind::Missing || looked_at.kind == DirectoryEntry::Kind::Unreadable) {
        return false;  // nothing there to lose, or nothing the run could replace
    }
    BY_HANDLE_FILE_INFORMATION held{};
    BY_HANDLE_FILE_INFORMATION found{};
    if (::GetFileInformationByHandle(handle_of(file.descriptor()), &held) == 0) {
        return true;
    }
    const QueriedFile found_file(entry(name));
    if (!found_file.is_open()) {
        return true;
    }
    return found_file.information(found) != 0 ||
           (held.dwVolumeSerialNumber == found.dwVolumeSerialNumber && held.nFileIndexHigh == found.nFileIndexHigh &&
            held.nFileIndexLow == found.nFileIndexLow);
}

FileHandle Directory::create_exclusive(const fs::path& name, bool /*as_any_new_file*/) const
{
    return quarnel::create_exclusive(entry(name));  // no permission bits beyond read-only
}

FileHandle Directory::create_unnamed() const
{
    errno = EOPNOTSUPP;
    return FileHandle();
}

// The move returns only once it is on the disk.
int Directory::rename(const fs::path& from, const fs::path& to) const
{
    constexpr DWORD kFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    return ::MoveFileExW(entry(from).c_str(), entry(to).c_str(), kFlags) != 0 ? 0 : -1;
}

// rename() wrote the names through already.
int Directory::flush(const fs::path& /*name*/) const { return 0; }

int Directory::flush_file_system() const { return 0; }

void remove_entry_signal_safe(int /*directory*/, const fs::path::value_type* entry) { (void)::_wunlink(entry); }

}  // namespace quarnel
