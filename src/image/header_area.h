// Everything of a modem image before the source bytes: a zero prologue, the
// signature record (header, one table entry, 128-byte signature block) and
// the image record's header and checksum table (one entry per 4096-byte block).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "image/record_header.h"

namespace quarnel {

enum class ModemModel { Default, E220 };

struct TypeCodes {
    std::uint16_t signature_record;
    std::uint16_t image_record;
};

inline constexpr TypeCodes kDefaultTypeCodes{0x000A, 0x000B};
inline constexpr TypeCodes kE220TypeCodes{0xF200, 0xB000};

constexpr TypeCodes type_codes(ModemModel model)
{
    return model == ModemModel::E220 ? kE220TypeCodes : kDefaultTypeCodes;
}

inline constexpr std::size_t kSectorSize = 2048;
inline constexpr std::size_t kPrologueSize = 92;
inline constexpr std::size_t kSignatureRecordOffset = kPrologueSize;
inline constexpr std::size_t kSignatureTableOffset = kSignatureRecordOffset + kRecordHeaderSize;
inline constexpr std::size_t kSignatureBlockOffset = kSignatureTableOffset + 2;
inline constexpr std::size_t kSignatureBlockSize = 128;
inline constexpr std::size_t kImageRecordOffset = kSignatureBlockOffset + kSignatureBlockSize;
inline constexpr std::size_t kImageTableOffset = kImageRecordOffset + kRecordHeaderSize;

static_assert(kSignatureTableOffset == 190 && kSignatureBlockOffset == 192);
static_assert(kImageRecordOffset == 320 && kImageTableOffset == 418);

// The image record's payload length is a 32-bit field and the source is
// refused at 2 GiB, so every count below fits comfortably in 64 bits.
inline constexpr std::uint64_t kMaxSourceLength = (std::uint64_t{1} << 31) - kSectorSize;

// The length rule of every source quarnel carries (an ISO, a packed disc): a
// whole number of sectors below 2 GiB. A negative length (no position could
// be had) is refused.
constexpr bool is_convertible_length(std::uint64_t length)
{
    return length <= kMaxSourceLength && length % kSectorSize == 0;
}
constexpr bool is_convertible_length(std::int64_t length)
{
    return length >= 0 && is_convertible_length(static_cast<std::uint64_t>(length));
}

inline constexpr std::string_view kHomePage = "https://quarnel.example.org";
inline constexpr std::string_view kSignatureText = "zarvotellion_custom_iso\n";

constexpr std::uint64_t block_count_for(std::uint64_t source_length)
{
    return (source_length + kBlockSize - 1) / kBlockSize;
}

constexpr std::size_t header_area_size(std::uint64_t block_count)
{
    return kImageTableOffset + kTableEntrySize * static_cast<std::size_t>(block_count);
}

// The image record's checksum table: what follows its header in the area.
inline std::span<std::uint8_t> image_checksum_table(std::span<std::uint8_t> area)
{
    return area.subspan(kImageTableOffset);
}

// Fills both record headers, the signature block and its table entry in an
// area of header_area_size(block_count_for(source_length)) bytes. The prologue
// and the image record's checksum table are left as they are.
void build_header_area(std::span<std::uint8_t> area, std::uint32_t source_length, ModemModel model);

}  // namespace quarnel
