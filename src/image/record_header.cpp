#include "image/record_header.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "image/checksum.h"

namespace quarnel {

std::uint16_t header_checksum_of(RecordHeader header)
{
    header.header_checksum = 0;
    return block_checksum(bytes_of(header));
}

void write_fixed_fields(RecordHeader& header)
{
    auto bytes = bytes_of(header);
    for (const HeaderFieldRow& row : kHeaderFields) {
        if (row.kind == FieldKind::Text) {
            const std::string text = written_text(row);
            std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(row.offset));
        } else if (row.kind == FieldKind::Number && row.width == 2) {
            store<ul16>(bytes, row.offset, static_cast<std::uint16_t>(row.number));
        } else if (row.kind == FieldKind::Number) {
            store<ul32>(bytes, row.offset, row.number);
        }
    }
    header = header_from(bytes);
}

std::uint32_t field_number(const RecordHeaderBytes& bytes, const HeaderFieldRow& row)
{
    return row.width == 2 ? load<ul16>(bytes, row.offset) : load<ul32>(bytes, row.offset);
}

std::string written_text(const HeaderFieldRow& row)
{
    std::string text(row.text);
    text.resize(row.width, '\0');
    return text;
}

}  // namespace quarnel
