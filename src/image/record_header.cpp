#include "image/record_header.h"

#include <cstring>

#include "image/checksum.h"

namespace quarnel {

std::uint16_t header_checksum_of(RecordHeader header)
{
    header.header_checksum = 0;
    std::array<std::uint8_t, kRecordHeaderSize> bytes{};
    std::memcpy(bytes.data(), &header, bytes.size());
    return block_checksum(bytes);
}

}  // namespace quarnel
