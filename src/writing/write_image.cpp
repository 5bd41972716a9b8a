#include "writing/write_image.h"

#include <cstdint>
#include <vector>

#include "output/output_file.h"

namespace quarnel {
namespace {

int fail(const std::function<void()>& tell)
{
    tell();
    return -1;
}

int create_output(OutputFile& output, const ImageWrite& write, const WriteFailures& failures)
{
    switch (output.create(write.destination, write.source)) {
    case Resolution::IsTheSource:
        return fail(failures.same_file ? failures.same_file : failures.unable_to_create);
    case Resolution::Refused:
        return fail(failures.unable_to_create);
    case Resolution::Resolved:
        break;
    }
    return 0;
}

// The pieces come from `pieces`, or from `list` where it is given.
int write_payload(std::span<const PayloadPiece> pieces, const PieceList* list, const ImageWrite& write,
                  const WriteFailures& failures)
{
    OutputFile output;
    if (create_output(output, write, failures) != 0) {
        return -1;
    }
    Payload payload{pieces, output.handle(), 0, {}, write.chunk_size, list};
    const std::uint64_t length = payload_length(payload);
    const bool modem_image = write.form == ImageForm::ModemImage;
    std::vector<std::uint8_t> header_area(modem_image ? header_area_size(block_count_for(length)) : 0);
    // The payload alone has no table to fill, but the copy takes its checksums all the same.
    std::vector<std::uint8_t> scratch_table(modem_image ? 0 : kTableEntrySize * block_count_for(length));
    if (output.append(header_area) != 0) {
        return fail(failures.unable_to_write);
    }
    payload.destination_offset = header_area.size();
    payload.checksum_table = modem_image ? image_checksum_table(header_area) : std::span<std::uint8_t>(scratch_table);
    // copy_payload() stops its threads before it returns, so that none is
    // still using the temporary file when a failure removes it.
    const PayloadOutcome outcome = copy_payload(payload, write.copy_method, write.progress);
    switch (outcome.result) {
    case PayloadResult::ReadFailed:
        failures.unable_to_read(outcome.failed_piece);
        return -1;
    case PayloadResult::WriteFailed:
        return fail(failures.unable_to_write);
    case PayloadResult::Done:
        break;
    }
    if (modem_image) {
        build_header_area(header_area, static_cast<std::uint32_t>(length), write.model);
        if (output.overwrite_start(header_area) != 0) {
            return fail(failures.unable_to_write);
        }
    }
    if (output.commit() != 0) {
        return fail(failures.unable_to_write);
    }
    return 0;
}

}  // namespace

int write_image(std::span<const PayloadPiece> pieces, const ImageWrite& write, const WriteFailures& failures)
{
    return write_payload(pieces, nullptr, write, failures);
}

int write_image(const PieceList& pieces, const ImageWrite& write, const WriteFailures& failures)
{
    return write_payload({}, &pieces, write, failures);
}

}  // namespace quarnel
