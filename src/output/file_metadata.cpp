#include "output/file_metadata.h"

#include "output/temporary_file.h"
#include "platform/startup.h"

#include <cerrno>

namespace quarnel {
namespace fs = std::filesystem;

namespace {

constexpr unsigned kGroupBits = 070;

// A new file with what any program's new file gets in the directory: one
// without a name (Linux's O_TMPFILE); where there can be none, an empty one
// under a temporary name, gone with the handle. Nothing can be learnt from
// either while it is open to others.
FileHandle create_probe(const Directory& directory, TemporaryFile& named)
{
    FileHandle unnamed = directory.create_unnamed();
    if (unnamed.is_open() || errno != EOPNOTSUPP || named.create(directory, true) != 0) {
        return unnamed;
    }
    return duplicate(named.handle());
}

}  // namespace

PassedOnMetadata read_passed_on_metadata(const Directory& directory, const fs::path& name, const DirectoryEntry& file)
{
    // Read, write and execute bits only: set-user-ID and the like do not pass to new contents.
    PassedOnMetadata passed_on{
        file.permissions, file.owner, file.group, {}, open_for_attributes(directory, name, file)};
    passed_on.acl =
        passed_on.replaced.is_open() ? read_access_acl(passed_on.replaced) : read_access_acl(directory, name, file);
    return passed_on;
}

int probe_new_file(const Directory& directory, PassedOnMetadata& passed_on)
{
    if (const auto known = known_new_file_permissions()) {
        passed_on.permissions = *known;
        return 0;
    }
    TemporaryFile named;
    const FileHandle probe = create_probe(directory, named);
    unsigned permissions = 0;
    if (read_permissions(probe, permissions) != 0) {
        return -1;
    }
    passed_on.permissions = permissions;
    passed_on.acl = read_access_acl(probe);
    return passed_on.acl.state == AccessAcl::State::Unknown ? -1 : 0;
}

int pass_on_metadata(const PassedOnMetadata& passed_on, const FileHandle& file, const fs::path& entry)
{
    unsigned permissions = passed_on.permissions.value_or(new_file_permissions());
    const bool replacing = passed_on.owner && passed_on.group;
    if (replacing) {
        bool group_kept = false;
        if (give_owner(file, *passed_on.owner, *passed_on.group, group_kept) != 0) {
            return -1;
        }
        if (!group_kept) {
            permissions &= ~kGroupBits;  // the old group's rights are not another group's
        }
        if (passed_on.replaced.is_open()) {
            copy_extended_attributes(passed_on.replaced, file);
        }
        // Born with the directory's default ACL: a file that had none gets none.
        if (passed_on.acl.state == AccessAcl::State::None && remove_access_acl(file) != 0) {
            return -1;
        }
    }
    const bool acl_given = give_access_acl(file, passed_on.acl);
    if (!replacing && passed_on.acl.state == AccessAcl::State::Present) {
        // The ACL gives a new file all its permission bits; without it the file is not what others' new files are.
        return acl_given ? 0 : -1;
    }
    if (!acl_given && passed_on.acl.state != AccessAcl::State::None) {
        permissions &= ~kGroupBits;  // they were the ACL's mask, not the owning group's rights
    }
    return set_permissions(file, entry, permissions);
}

}  // namespace quarnel
