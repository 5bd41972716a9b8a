// What the CD-ROM image inside a modem image says about itself: its volume
// descriptors, read from sector 16 on. Only the few fields a check before
// flashing needs are parsed, from a bounded number of fixed-size descriptors.
#pragma once

#include <cstdint>
#include <string>

#include "image/image_source.h"

namespace quarnel {

struct DiscVolume {
    bool iso9660 = false;    // a primary volume descriptor, "CD001" type 1
    bool joliet = false;     // a supplementary descriptor with a Joliet escape sequence
    bool el_torito = false;  // a boot record of the El Torito kind
    bool udf = false;        // a UDF bridge: "NSR02" or "NSR03" in the extended area
    // From the first primary descriptor; the identifier as stored, padding dropped.
    std::string volume_identifier;
    std::uint32_t volume_blocks = 0;             // the little-endian half, which readers use
    std::uint32_t volume_blocks_big_endian = 0;  // its twin, which should agree
    std::uint16_t block_size = 0;                // logical block size, little-endian half

    bool found() const { return iso9660 || udf; }
    std::uint64_t volume_bytes() const { return std::uint64_t{volume_blocks} * block_size; }
};

// Reads the descriptors of the payload at `payload_offset`, never past
// `payload_length`; 0, or -1 when the source fails.
[[nodiscard]] int read_disc_volume(ImageSource& source, std::uint64_t payload_offset, std::uint64_t payload_length,
                                   DiscVolume& volume);

}  // namespace quarnel
