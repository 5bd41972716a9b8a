#include "convert/convert_image.h"

#include <cstdint>
#include <span>
#include <vector>

#include "console/console.h"
#include "convert/convert_messages.h"
#include "output/output_file.h"
#include "platform/file_io.h"
#include "platform/interrupt.h"

namespace quarnel {

int convert_image(const ConversionRequest& request)
{
    const InterruptHandling interrupt_handling(messages::kInterrupted);

    FileHandle source = open_measurable_source(request.source);
    if (!source.is_open()) {
        return console::fail(messages::kUnableToOpenSource);
    }
    const std::int64_t measured_length = measure_length(source);
    if (!is_convertible_length(measured_length)) {
        return console::fail(messages::kBadSourceLength);
    }
    if (seek_to_start(source) != 0) {
        return console::fail(messages::kUnableToReadSource);
    }
    const auto source_length = static_cast<std::uint64_t>(measured_length);

    std::vector<std::uint8_t> header_area(header_area_size(block_count_for(source_length)));
    OutputFile output;
    switch (output.create(request.destination, source)) {
    case Resolution::IsTheSource:
        return console::fail(messages::kSameFile);
    case Resolution::Refused:
        return console::fail(messages::kUnableToCreateDestination);
    case Resolution::Resolved:
        break;
    }
    if (output.append(header_area) != 0) {
        return console::fail(messages::kUnableToWriteDestination);
    }
    // copy_payload() stops its threads before it returns, so that none is
    // still using the temporary file when a failure removes it.
    const PayloadPiece iso = PayloadPiece::range(source, 0, source_length);
    const Payload payload{std::span(&iso, 1), output.handle(), header_area.size(), image_checksum_table(header_area)};
    switch (copy_payload(payload, request.copy_method, request.progress).result) {
    case PayloadResult::ReadFailed:
        return console::fail(messages::kUnableToReadSource);
    case PayloadResult::WriteFailed:
        return console::fail(messages::kUnableToWriteDestination);
    case PayloadResult::Done:
        break;
    }
    (void)source.close();  // read to the end: a failed close changes nothing

    build_header_area(header_area, static_cast<std::uint32_t>(source_length), request.model);
    if (output.overwrite_start(header_area) != 0 || output.commit() != 0) {
        return console::fail(messages::kUnableToWriteDestination);
    }
    console::print(messages::kSuccess);
    return 0;
}

}  // namespace quarnel
