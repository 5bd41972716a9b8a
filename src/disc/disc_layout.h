// The layout of a CD-ROM image made from a folder: ECMA-119 with a Joliet
// tree beside the primary one. Entries in; out the metadata bytes (system
// area, volume descriptors, path tables, directories: everything before the
// first file's data; made as asked for) and each file's extent, so that a
// driver can stream the disc as the metadata, then each file's bytes
// zero-padded to a sector.
//
// The primary tree follows interchange level 1: 8.3 names of d-characters,
// ";1" on files, made unique within a directory (disc_names.h tells how),
// and at most eight levels (the root is the first): a directory that would
// lie on the ninth is moved into the relocation folder DEEPER in the root
// (DEEPER_1, ... when a name of the root's takes it) and its own directories
// follow it, those again that would lie on the ninth moved in there too.
// The moved ones are named there as a directory's entries are, in the order
// they are met, the tree walked with each folder's entries in the byte order
// of their names. The relocation folder is the primary tree's alone.
// The Joliet tree holds the names exactly (UCS-2 level 3, UTF-16 big-endian,
// no ";1", which the readers would otherwise show). No operating-system
// code: the web page builds this too.
//
// Sectors: 16 of system area, the primary and the Joliet descriptors, the
// terminator, the L and M path tables of the primary tree then of the Joliet
// one, the primary directories then the Joliet ones in path-table order, and
// the files, in the order of the primary tree's path table and records, each
// from a sector. An empty file has no data and its records point at sector 0.
// Entries come in any order: each directory's are sorted first, so the same
// folder gives the same bytes. Times are UTC with an offset of 0; a
// directory's is the newest of what it holds (an empty one's its own), and
// the volume's that of the root.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quarnel::disc {

inline constexpr std::uint32_t kDiscSectorSize = 2048;

// Two entries with the same identity are one file (a hard link) and share
// one extent.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

struct Entry {
    std::string name;  // UTF-8
    bool directory = false;
    std::uint32_t source = 0;   // the driver's own number for a file, passed through untouched
    std::uint64_t size = 0;     // bytes, for a file
    std::int64_t modified = 0;  // seconds since the epoch, UTC
    std::optional<FileIdentity> identity;
    std::vector<Entry> children;  // for a directory
};

// Why a folder cannot become a disc; the driver words the message.
enum class RefusalKind {
    InvalidUtf8,         // a name that is not UTF-8
    ForbiddenCharacter,  // * / : ; ? \ or U+0000..U+001F, which Joliet forbids
    ReservedName,        // empty, "." or ".."
    NameTooLong,         // more than 64 UTF-16 units
    CaseCollision,       // two names of one directory equal but for letter case
    SameNameTwoWays,     // two names of one directory canonically equivalent (NFD), case aside
    WindowsCharacter,    // " < > or |, which Windows forbids
    TrailingDotOrSpace,  // a name ending in '.' or ' ', which Windows and Linux's readers strip
    DeviceName,          // CON, NUL, COM1, LPT1... with any extension, which Windows takes for a device
    PathTooLong,         // a Joliet path of more than kMaxJolietPathUnits
    TooLarge,            // a disc larger than quarnel converts (kMaxSourceLength)
    TooManyDirectories,  // a tree of more directories than its path table numbers (65,535), DEEPER counted
    DateOutOfRange,      // a time a directory record cannot hold: before 1900 or after 2155
    InvalidLabel,        // a label that is not UTF-8, or has a character Joliet forbids
    LabelTooLong,        // a label of more than 16 UTF-16 units
};

struct Refusal {
    RefusalKind kind = RefusalKind::InvalidUtf8;
    std::string path;        // the entry, relative to the folder, '/' between names; empty for the label
    std::string other_path;  // for a collision, the entry it collides with
};

struct FileExtent {
    const Entry* entry = nullptr;  // the first of the entries that share the extent
    std::uint32_t sector = 0;
    std::uint32_t length = 0;  // bytes; zero-padded on the disc to whole sectors
};

// The metadata's bytes, made from the laid-out tree whenever they are asked
// for, so that no directory's sectors are held (a folder of 65,534 empty
// folders has 256 MiB of them).
class MetadataBytes {
public:
    virtual ~MetadataBytes() = default;
    // Fills `into` with the metadata's bytes from `offset` on, within its
    // size. Const: any thread may fill any range at any time while the
    // layout and the entries live. Throws std::bad_alloc alone.
    virtual void fill(std::uint64_t offset, std::span<std::uint8_t> into) const = 0;
};

// Refers to the entries laid out: they must outlive it.
struct DiscLayout {
    std::shared_ptr<const MetadataBytes> metadata;  // sectors 0 .. the first file's
    std::uint64_t metadata_size = 0;                // bytes, whole sectors
    std::vector<FileExtent> files;  // in data order, contiguous after the metadata; empty files have none
    std::uint32_t total_sectors = 0;
};

// `name` below `parent`, '/' between them unless `parent` is empty or ends in '/' or '\\' already.
std::string join_path(std::string_view parent, std::string_view name);

constexpr std::uint64_t sectors_for(std::uint64_t bytes) { return (bytes + kDiscSectorSize - 1) / kDiscSectorSize; }

// Lays out the disc of the folder `root` (a directory entry named as the
// folder). Without a label the volume is named after the folder. 0, or -1
// with `refusal` filled and `layout` untouched.
[[nodiscard]] int lay_out_disc(const Entry& root, std::optional<std::string_view> label, DiscLayout& layout,
                               Refusal& refusal);

}  // namespace quarnel::disc
