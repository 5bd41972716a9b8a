// Reads a modem image back and checks every part of it: the prologue, each
// record's header and checksum, its checksum table against its payload, and
// the two-record structure this tool writes. Memory stays bounded whatever
// lengths the file claims: the payload and its table are read in windows.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "image/header_area.h"
#include "image/record_header.h"

namespace quarnel {

// Random access to the bytes of an image.
class ImageSource {
public:
    virtual ~ImageSource() = default;
    virtual std::uint64_t size() const = 0;
    // Fills the buffer from the offset; the count read (short only at the end), or -1.
    [[nodiscard]] virtual std::int64_t read_at(std::uint64_t offset, std::span<std::uint8_t> buffer) = 0;
};

class MemoryImageSource final : public ImageSource {
public:
    explicit MemoryImageSource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint64_t size() const override { return bytes_.size(); }
    [[nodiscard]] std::int64_t read_at(std::uint64_t offset, std::span<std::uint8_t> buffer) override;

private:
    std::span<const std::uint8_t> bytes_;
};

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
    BadFixedFields,
    BadHeaderChecksum,
    BadHeaderLength,
    ZeroBlockSize,
    TableMismatch,
    BadBlockChecksum,
    TrailingData,
    BadSignatureRecord,
    BadImageRecord,
    MixedModels,
    SinkFailed,
    Count,  // not a fault: the number of values above
};

// Every fault but None, so that code and tests can walk them all.
inline constexpr std::array kAllFaults = {
    ImageFault::ReadFailed,       ImageFault::Truncated,      ImageFault::PrologueNotZero,
    ImageFault::BadMagic,         ImageFault::BadFixedFields, ImageFault::BadHeaderChecksum,
    ImageFault::BadHeaderLength,  ImageFault::ZeroBlockSize,  ImageFault::TableMismatch,
    ImageFault::BadBlockChecksum, ImageFault::TrailingData,   ImageFault::BadSignatureRecord,
    ImageFault::BadImageRecord,   ImageFault::MixedModels,    ImageFault::SinkFailed,
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

enum class RecordKind { Signature, Image, Unknown };

struct TypeCodeMeaning {
    RecordKind kind = RecordKind::Unknown;
    std::optional<ModemModel> model;
};

TypeCodeMeaning describe_type_code(std::uint16_t type_code);

struct RecordReport {
    std::uint64_t offset = 0;
    RecordHeader header{};
    std::uint16_t computed_header_checksum = 0;
    std::uint64_t table_entries = 0;
    bool blocks_checked = false;
    std::optional<std::uint64_t> first_bad_block;
    std::uint64_t first_bad_block_offset = 0;  // in the file
    std::vector<std::uint8_t> payload_head;    // the first bytes of the payload, for the signature text

    bool header_checksum_good() const { return computed_header_checksum == header.header_checksum; }
};

struct ImageReport {
    std::uint64_t file_size = 0;
    std::vector<RecordReport> records;
    ImageFault fault = ImageFault::None;  // the first one found
    std::optional<ModemModel> model;

    bool valid() const { return fault == ImageFault::None; }
};

// The signature text of a signature record's payload: up to its terminator,
// when the payload is a text of two lines, a zero byte and zero fill.
std::optional<std::string> signature_text(std::span<const std::uint8_t> payload);

// Checks the whole image; the image record's payload goes to `image_payload`
// (when given) as it is read, so that extraction needs no second pass.
ImageReport read_image(ImageSource& source, PayloadSink* image_payload);

}  // namespace quarnel
