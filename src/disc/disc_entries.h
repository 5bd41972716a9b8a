// What a disc is made from (a folder's entries) and what can refuse it, apart
// from the layout so that every unit of the disc can speak of them.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarnel::disc {

inline constexpr std::uint32_t kDiscSectorSize = 2048;

// The years a directory record holds: one byte, counted from the first.
inline constexpr int kFirstRecordYear = 1900;
inline constexpr int kLastRecordYear = kFirstRecordYear + 255;
// Their first and last second, in seconds since the epoch (UTC).
inline constexpr std::int64_t kFirstRecordTime =
    std::chrono::sys_seconds(std::chrono::sys_days(std::chrono::year(kFirstRecordYear) / 1 / 1))
        .time_since_epoch()
        .count();
inline constexpr std::int64_t kLastRecordTime =
    std::chrono::sys_seconds(std::chrono::sys_days(std::chrono::year(kLastRecordYear + 1) / 1 / 1))
        .time_since_epoch()
        .count() -
    1;

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
    DateOutOfRange,      // a time a directory record cannot hold: outside kFirstRecordYear .. kLastRecordYear
    InvalidLabel,        // a label that is not UTF-8, or has a character Joliet forbids
    LabelTooLong,        // a label of more than 16 UTF-16 units
};

struct Refusal {
    RefusalKind kind = RefusalKind::InvalidUtf8;
    std::string path;        // the entry, relative to the folder, '/' between names; empty for the label
    std::string other_path;  // for a collision, the entry it collides with
};

// `name` below `parent`, '/' between them unless `parent` is empty or ends in '/' or '\\' already.
std::string join_path(std::string_view parent, std::string_view name);

constexpr std::uint64_t sectors_for(std::uint64_t bytes) { return (bytes + kDiscSectorSize - 1) / kDiscSectorSize; }

// The zeros that complete `bytes` to whole sectors.
constexpr std::uint64_t sector_padding(std::uint64_t bytes) { return sectors_for(bytes) * kDiscSectorSize - bytes; }

}  // namespace quarnel::disc
