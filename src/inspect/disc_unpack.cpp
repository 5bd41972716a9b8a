#include "inspect/disc_unpack.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <span>
#include <vector>

#include "disc/disc_entries.h"
#include "disc/disc_names.h"
#include "output/temporary_folder.h"
#include "platform/copy.h"
#include "platform/folder_making.h"

namespace quarnel {
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kCopyChunk = std::size_t{1} << 20;

fs::path native_name(std::string_view utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

// Why an entry could not be made, from errno.
UnpackFailure creation_failure() { return errno == EEXIST ? UnpackFailure::NameTaken : UnpackFailure::CannotCreate; }

// Walks the listing in its order (each folder before what it holds) with the
// folders being filled on a stack, the root's first; a folder gets its time
// once left, when nothing more is made in it. Everything is made durable at
// once at the end: a flush a file would wait for the device each time.
class Unpacker {
public:
    Unpacker(const FileHandle& image, std::uint64_t disc_offset, const disc::DiscListing& listing,
             TemporaryFolder& folder, UnpackOutcome& outcome)
        : image_(image), disc_offset_(disc_offset), listing_(listing), folder_(folder), outcome_(outcome)
    {
    }

    [[nodiscard]] int run()
    {
        open_.push_back({disc::kInRoot, Directory(), {}});
        if (disc::walk_listing(
                listing_, [this](std::uint32_t index) { return make(index, listing_.items[index]); },
                [this](std::uint32_t /*folder*/) { return leave(); }) != 0) {
            if (outcome_.failure == UnpackFailure::None) {
                return fail(UnpackFailure::CannotCreate, disc::kInRoot);  // a listing out of its order
            }
            return -1;
        }
        const Directory& root = folder_.folder();
        if ((listing_.root_time && set_entry_time(root, ".", *listing_.root_time) != 0) ||
            root.flush_file_system() != 0) {
            return fail(UnpackFailure::WriteFailed, disc::kInRoot);
        }
        return 0;
    }

private:
    struct Filling {
        std::uint32_t item;
        Directory directory;  // the root's is the temporary folder's
        fs::path path;        // below the folder
    };

    const Directory& filled() const { return open_.size() == 1 ? folder_.folder() : open_.back().directory; }

    int fail(UnpackFailure failure, std::uint32_t item)
    {
        outcome_ = {failure, item == disc::kInRoot ? std::string() : listing_.path(item)};
        return -1;
    }

    // The folder on top is complete: it gets its time, now that nothing more changes it.
    [[nodiscard]] int leave()
    {
        const Filling left = std::move(open_.back());
        open_.pop_back();
        const disc::DiscItem& item = listing_.items[left.item];
        if (item.timed && set_entry_time(filled(), left.path.filename(), item.time) != 0) {
            return fail(UnpackFailure::WriteFailed, left.item);
        }
        return 0;
    }

    [[nodiscard]] int make(std::uint32_t index, const disc::DiscItem& item)
    {
        const Directory& in = filled();
        const fs::path name = native_name(listing_.name(index));
        const fs::path path = open_.back().path / name;
        if (kWindowsNames && !disc::windows_can_hold(listing_.name(index))) {
            return fail(UnpackFailure::NameUnfit, index);
        }
        if (folder_.note(path, item.directory) != 0) {
            return fail(UnpackFailure::CannotCreate, index);
        }
        if (!item.directory) {
            return write_file(index, item, in, name);
        }
        if (make_directory(in, name, false) != 0) {
            return fail(creation_failure(), index);
        }
        std::optional<Directory> made = in.open_directory(name);
        if (!made) {
            return fail(UnpackFailure::CannotCreate, index);
        }
        open_.push_back({index, std::move(*made), path});
        return 0;
    }

    [[nodiscard]] int write_file(std::uint32_t index, const disc::DiscItem& item, const Directory& in,
                                 const fs::path& name)
    {
        FileHandle file = in.create_exclusive(name, true);
        if (!file.is_open()) {
            return fail(creation_failure(), index);
        }
        TemporaryFolder::writing(&file);
        const int written = copy_bytes(item, file) == 0 && (!item.timed || set_file_time(file, item.time) == 0) &&
                                    start_sync_file(file) == 0
                                ? 0
                                : -1;
        TemporaryFolder::writing(nullptr);
        if (file.close() != 0 || written != 0) {
            return fail(UnpackFailure::WriteFailed, index);
        }
        return 0;
    }

    // In the kernel where it can, else through a buffer.
    [[nodiscard]] int copy_bytes(const disc::DiscItem& item, const FileHandle& file)
    {
        const std::uint64_t from = disc_offset_ + static_cast<std::uint64_t>(item.sector) * disc::kDiscSectorSize;
        const KernelCopyResult kernel = copy_in_kernel(image_, from, file, 0, item.size);
        if (kernel.status == KernelCopyStatus::Copied) {
            return 0;
        }
        if (kernel.status != KernelCopyStatus::Unsupported) {
            return -1;
        }
        buffer_.resize(kCopyChunk);
        for (std::uint64_t done = kernel.copied; done < item.size;) {
            const std::span<std::uint8_t> chunk = std::span(buffer_).first(
                static_cast<std::size_t>(std::min<std::uint64_t>(kCopyChunk, item.size - done)));
            if (read_at(image_, from + done, chunk) != static_cast<std::int64_t>(chunk.size()) ||
                write_at(file, done, chunk) != 0) {
                return -1;
            }
            done += chunk.size();
        }
        return 0;
    }

    const FileHandle& image_;
    std::uint64_t disc_offset_;
    const disc::DiscListing& listing_;
    TemporaryFolder& folder_;
    UnpackOutcome& outcome_;
    std::vector<Filling> open_;
    std::vector<std::uint8_t> buffer_;
};

}  // namespace

int unpack_disc(const FileHandle& image, std::uint64_t disc_offset, const disc::DiscListing& listing,
                const Directory& parent, const fs::path& name, UnpackOutcome& outcome)
{
    TemporaryFolder made;
    if (made.create(parent, name) != 0) {
        outcome = {UnpackFailure::CannotCreate, {}};
        return -1;
    }
    if (Unpacker(image, disc_offset, listing, made, outcome).run() != 0) {
        return -1;
    }
    if (made.place() != 0) {
        outcome = {errno == EEXIST ? UnpackFailure::Exists : UnpackFailure::WriteFailed, {}};
        return -1;
    }
    return 0;
}

}  // namespace quarnel
