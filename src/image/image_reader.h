// Reads a modem image back and checks every part of it: the prologue, each
// record's header (every field holds what quarnel writes) and checksum, its
// checksum table against its payload, the two-record structure this tool
// writes, and the disc inside the image record. Memory stays bounded whatever
// lengths the file claims: the payload and its table are read in windows.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "image/disc_volume.h"
#include "image/header_area.h"
#include "image/image_source.h"
#include "image/record_header.h"

namespace quarnel {

// Receives the image record's payload, in order, as it is checked.
class PayloadSink {
public:
    virtual ~PayloadSink() = default;
    [[nodiscard]] virtual int write(std::span<const std::uint8_t> bytes) = 0;  // 0 / -1
};

// What is wrong with an image; each program words it for its users.
enum class ImageFault {
    None,
    ReadFailed,
    Truncated,
    PrologueNotZero,
    BadMagic,
    UnexpectedField,  // details in ImageReport::deviation
    BadHeaderChecksum,
    BadHeaderLength,
    TableMismatch,
    BadBlockChecksum,
    TrailingData,
    BadSignatureRecord,
    BadImageRecord,
    MixedModels,
    VolumeCutShort,  // the disc's volume is larger than the payload
    Count,           // not a fault: the number of values above
};

// Every fault but None, so that code and tests can walk them all.
inline constexpr std::array kAllFaults = {
    ImageFault::ReadFailed,      ImageFault::Truncated,          ImageFault::PrologueNotZero,
    ImageFault::BadMagic,        ImageFault::UnexpectedField,    ImageFault::BadHeaderChecksum,
    ImageFault::BadHeaderLength, ImageFault::TableMismatch,      ImageFault::BadBlockChecksum,
    ImageFault::TrailingData,    ImageFault::BadSignatureRecord, ImageFault::BadImageRecord,
    ImageFault::MixedModels,     ImageFault::VolumeCutShort,
};

constexpr bool lists_each_fault_once()
{
    for (std::size_t i = 0; i < kAllFaults.size(); ++i) {
        for (std::size_t j = i + 1; j < kAllFaults.size(); ++j) {
            if (kAllFaults[i] == kAllFaults[j]) {
                return false;
            }
        }
    }
    return true;
}

// A fault added to the enum breaks the build until it is listed here too.
static_assert(kAllFaults.size() + 1 == static_cast<std::size_t>(ImageFault::Count) && lists_each_fault_once());

// A field that holds what quarnel never writes: where, and what it holds.
struct FieldDeviation {
    std::size_t record = 0;  // 0 the signature record, 1 the image record
    HeaderField field = HeaderField::FixedOne;
    std::uint64_t number = 0;  // a number field's value
    std::string text;          // a text field's bytes, all of them
};

enum class RecordKind { Signature, Image, Unknown };

struct RecordType {
    RecordKind kind = RecordKind::Unknown;
    std::optional<ModemModel> model;
};

RecordType record_type(std::uint16_t type_code);

struct RecordReport {
    std::uint64_t offset = 0;
    RecordHeader header{};
    std::uint16_t computed_header_checksum = 0;
    std::uint64_t table_entries = 0;
    bool blocks_checked = false;
    std::optional<std::uint64_t> first_bad_block;
    std::uint64_t first_bad_block_offset = 0;  // in the file
    std::vector<std::uint8_t> payload_head;    // the first bytes of the payload, for the signature text

    // Where the record's payload starts in the file.
    std::uint64_t payload_offset() const { return offset + header.header_length; }

    bool header_checksum_good() const { return computed_header_checksum == header.header_checksum; }
};

struct ImageReport {
    std::uint64_t file_size = 0;
    std::vector<RecordReport> records;
    ImageFault fault = ImageFault::None;      // the first one found
    std::optional<FieldDeviation> deviation;  // when that fault is UnexpectedField
    std::optional<ModemModel> model;
    // The volume descriptors of the image record's payload, once it lies in the file.
    std::optional<DiscVolume> disc;
    // The payload sink refused bytes: nothing more went to it, but every check ran.
    bool payload_sink_failed = false;

    bool valid() const { return fault == ImageFault::None; }
};

// The signature text of a signature record's payload: up to its terminator,
// when the payload is a text of two lines, a zero byte and zero fill.
std::optional<std::string> signature_text(std::span<const std::uint8_t> payload);

// A record's payload handed over window by window, front to back, each with
// the checksums of its blocks. The reader reads and checksums each window
// itself where it is given none; a driver may give one that does it ahead.
class PayloadWindows {
public:
    virtual ~PayloadWindows() = default;
    // The next payload comes: `length` bytes at `offset` in the image, in
    // windows of window_size bytes (the last one shorter), a whole number of
    // blocks of block_size.
    virtual void begin(std::uint64_t offset, std::uint64_t length, std::size_t window_size, std::size_t block_size) = 0;
    // The next window's bytes and, when they are all there, their checksums
    // (kTableEntrySize bytes a block, as in a table); both valid until the
    // next call. The byte count, short only where the image ends, or -1.
    // Past the first window, a driver that had them checksummed elsewhere may
    // give the checksums alone (no bytes), where no payload sink is given.
    [[nodiscard]] virtual std::int64_t next(std::span<const std::uint8_t>& bytes,
                                            std::span<const std::uint8_t>& checksums) = 0;
};

// The reader's own windows: each read from the source and checksummed as it is handed over.
class SourceWindows final : public PayloadWindows {
public:
    explicit SourceWindows(ImageSource& source) : source_(source) {}
    void begin(std::uint64_t offset, std::uint64_t length, std::size_t window_size, std::size_t block_size) override;
    [[nodiscard]] std::int64_t next(std::span<const std::uint8_t>& bytes,
                                    std::span<const std::uint8_t>& checksums) override;

private:
    ImageSource& source_;
    std::uint64_t offset_ = 0;
    std::uint64_t length_ = 0;
    std::size_t block_size_ = 1;
    std::vector<std::uint8_t> bytes_;
    std::vector<std::uint8_t> checksums_;
};

// Checks the whole image; the image record's payload goes to `image_payload`
// (when given) as it is read, so that extraction needs no second pass. A sink
// that fails is not a fault of the image: it is marked and the check goes on.
// Each record's payload comes from `windows` when given, else from `source`.
ImageReport read_image(ImageSource& source, PayloadSink* image_payload, PayloadWindows* windows = nullptr);

}  // namespace quarnel
