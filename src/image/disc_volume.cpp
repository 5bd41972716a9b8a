#include "image/disc_volume.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "image/header_area.h"
#include "image/integers.h"

namespace quarnel {
namespace {

// The system area (sectors 0 to 15) comes first; a real disc has a handful of
// descriptors, so a few dozen bound the walk without cutting one short.
constexpr std::uint64_t kFirstDescriptorSector = 16;
constexpr std::uint64_t kMaxDescriptors = 32;

using Descriptor = std::array<std::uint8_t, kSectorSize>;

constexpr std::string_view kIsoIdentifier = "CD001";
constexpr std::uint8_t kDescriptorVersion = 1;
constexpr std::uint8_t kBootRecord = 0;
constexpr std::uint8_t kPrimary = 1;
constexpr std::uint8_t kSupplementary = 2;
constexpr std::uint8_t kTerminator = 255;
// The start of an El Torito boot record's system identifier; the rest names
// the document that defines it.
constexpr std::string_view kElToritoSystem = "EL TORITO ";

// Offsets inside a descriptor.
constexpr std::size_t kIdentifierAt = 1;
constexpr std::size_t kVersionAt = 6;
constexpr std::size_t kBootSystemAt = 7;
constexpr std::size_t kVolumeIdentifierAt = 40;
constexpr std::size_t kVolumeIdentifierSize = 32;
constexpr std::size_t kVolumeSpaceSizeAt = 80;  // both-endian: 4 bytes little, 4 big
constexpr std::size_t kEscapeSequencesAt = 88;
constexpr std::size_t kLogicalBlockSizeAt = 128;  // both-endian: 2 bytes little, 2 big

// Joliet's three levels: UCS-2 level 1, 2 or 3.
constexpr std::array<std::string_view, 3> kJolietEscapes = {"%/@", "%/C", "%/E"};

enum class Walk { Continue, Stop };

bool holds_text(const Descriptor& bytes, std::size_t at, std::string_view text)
{
    return std::equal(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at),
                      [](char c, std::uint8_t byte) { return static_cast<std::uint8_t>(c) == byte; });
}

void read_primary(const Descriptor& bytes, DiscVolume& volume)
{
    volume.iso9660 = true;
    const auto first = bytes.begin() + kVolumeIdentifierAt;
    std::string identifier(first, first + kVolumeIdentifierSize);
    const std::size_t end = identifier.find_last_not_of(std::string_view(" \0", 2));
    identifier.resize(end == std::string::npos ? 0 : end + 1);  // padding is spaces, or zeros from some tools
    volume.volume_identifier = std::move(identifier);
    volume.volume_blocks = load<ul32>(bytes, kVolumeSpaceSizeAt);
    volume.volume_blocks_big_endian = load<ub32>(bytes, kVolumeSpaceSizeAt + 4);
    volume.block_size = load<ul16>(bytes, kLogicalBlockSizeAt);
}

void read_iso_descriptor(const Descriptor& bytes, DiscVolume& volume)
{
    switch (bytes[0]) {
    case kBootRecord:
        volume.el_torito = volume.el_torito || holds_text(bytes, kBootSystemAt, kElToritoSystem);
        break;
    case kPrimary:
        if (!volume.iso9660) {
            read_primary(bytes, volume);
        }
        break;
    case kSupplementary:
        volume.joliet = volume.joliet || std::any_of(kJolietEscapes.begin(), kJolietEscapes.end(), [&](auto escape) {
                            return holds_text(bytes, kEscapeSequencesAt, escape);
                        });
        break;
    case kTerminator:  // a UDF bridge's extended area may follow
    default:
        break;
    }
}

// One descriptor of the ISO 9660 set or of the extended area that follows it.
Walk read_descriptor(const Descriptor& bytes, DiscVolume& volume)
{
    if (bytes[kVersionAt] != kDescriptorVersion) {
        return Walk::Stop;
    }
    const auto is = [&](std::string_view identifier) { return holds_text(bytes, kIdentifierAt, identifier); };
    if (is(kIsoIdentifier)) {
        read_iso_descriptor(bytes, volume);
        return Walk::Continue;
    }
    if (is("NSR02") || is("NSR03")) {
        volume.udf = true;
        return Walk::Continue;
    }
    if (is("BEA01") || is("BOOT2") || is("CDW02")) {
        return Walk::Continue;
    }
    return Walk::Stop;  // "TEA01" ends the area; anything else is not a descriptor
}

}  // namespace

int read_disc_volume(ImageSource& source, std::uint64_t payload_offset, std::uint64_t payload_length,
                     DiscVolume& volume)
{
    volume = DiscVolume{};
    const std::uint64_t sectors = payload_length / kSectorSize;
    const std::uint64_t last = std::min(sectors, kFirstDescriptorSector + kMaxDescriptors);
    Descriptor bytes{};
    for (std::uint64_t sector = kFirstDescriptorSector; sector < last; ++sector) {
        const std::int64_t got = source.read_at(payload_offset + sector * kSectorSize, bytes);
        if (got < 0) {
            return -1;
        }
        if (static_cast<std::uint64_t>(got) != bytes.size() || read_descriptor(bytes, volume) == Walk::Stop) {
            break;
        }
    }
    return 0;
}

}  // namespace quarnel
