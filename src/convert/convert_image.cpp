#include "convert/convert_image.h"

#include <cstdint>
#include <span>

#include "console/console.h"
#include "convert/convert_messages.h"
#include "platform/file_io.h"
#include "platform/interrupt.h"
#include "writing/write_image.h"

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

    const PayloadPiece iso = PayloadPiece::range(source, 0, source_length);
    const ImageWrite write{request.destination, source,          request.model,   ImageForm::ModemImage,
                           request.copy_method, kLargeChunkSize, request.progress};
    const WriteFailures failures{
        [] { (void)console::fail(messages::kSameFile); },
        [] { (void)console::fail(messages::kUnableToCreateDestination); },
        [] { (void)console::fail(messages::kUnableToWriteDestination); },
        [](std::size_t) { (void)console::fail(messages::kUnableToReadSource); },
    };
    if (write_image(std::span(&iso, 1), write, failures) != 0) {
        return -1;
    }
    console::print(messages::kSuccess);
    return 0;
}

}  // namespace quarnel
