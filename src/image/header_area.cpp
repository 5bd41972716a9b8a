#include "image/header_area.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "image/checksum.h"

namespace quarnel {
namespace {

using SignatureBlock = std::array<std::uint8_t, kSignatureBlockSize>;

constexpr std::string_view kSignatureEnd = "\n";

// The text keeps its zero terminator inside the block.
static_assert(kSignatureText.size() + kHomePage.size() + kSignatureEnd.size() < kSignatureBlockSize);

constexpr SignatureBlock make_signature_block()
{
    SignatureBlock block{};
    std::size_t at = 0;
    for (std::string_view part : {kSignatureText, kHomePage, kSignatureEnd}) {
        for (char c : part) {
            block.at(at++) = static_cast<std::uint8_t>(c);
        }
    }
    return block;
}

constexpr SignatureBlock kSignatureBlock = make_signature_block();

void write_record_header(std::span<std::uint8_t> area, std::size_t offset, std::uint32_t table_entries,
                         std::uint16_t type_code, std::uint32_t payload_length)
{
    RecordHeader header{};
    header.magic = kRecordMagic;
    header.header_length = static_cast<std::uint32_t>(kRecordHeaderSize + kTableEntrySize * table_entries);
    write_fixed_fields(header);
    header.type_code = type_code;
    header.payload_length = payload_length;

    header.header_checksum = header_checksum_of(header);
    std::memcpy(area.subspan(offset, kRecordHeaderSize).data(), &header, kRecordHeaderSize);
}

}  // namespace

void build_header_area(std::span<std::uint8_t> area, std::uint32_t source_length, ModemModel model)
{
    const std::uint64_t block_count = block_count_for(source_length);
    const TypeCodes codes = type_codes(model);

    write_record_header(area, kSignatureRecordOffset, 1, codes.signature_record, kSignatureBlockSize);
    std::copy(kSignatureBlock.begin(), kSignatureBlock.end(), area.begin() + kSignatureBlockOffset);
    store<ul16>(area, kSignatureTableOffset, block_checksum(kSignatureBlock));

    write_record_header(area, kImageRecordOffset, static_cast<std::uint32_t>(block_count), codes.image_record,
                        source_length);
}

}  // namespace quarnel
