#include "inspect/inspect_messages.h"

namespace quarnel::inspect_messages {

std::string_view fault_description(ImageFault fault)
{
    switch (fault) {
    case ImageFault::ReadFailed:
        return "unable to read image file";
    case ImageFault::Truncated:
        return "image file is truncated";
    case ImageFault::PrologueNotZero:
        return "image prologue is not zero";
    case ImageFault::BadMagic:
        return "record header has a wrong magic number";
    case ImageFault::BadFixedFields:
        return "record header has wrong fixed fields";
    case ImageFault::BadHeaderChecksum:
        return "record header checksum does not match";
    case ImageFault::BadHeaderLength:
        return "record header length is invalid";
    case ImageFault::ZeroBlockSize:
        return "record block size is zero";
    case ImageFault::TableMismatch:
        return "checksum table does not fit the payload length";
    case ImageFault::BadBlockChecksum:
        return "block checksum does not match";
    case ImageFault::TrailingData:
        return "data follows the image record";
    case ImageFault::BadSignatureRecord:
        return "signature record is missing or malformed";
    case ImageFault::BadImageRecord:
        return "image record is missing or malformed";
    case ImageFault::MixedModels:
        return "record type codes name different models";
    case ImageFault::SinkFailed:
        return "unable to write extracted file";
    case ImageFault::None:
    case ImageFault::Count:
        break;
    }
    return "";
}

std::string fault_message(ImageFault fault)
{
    const std::string_view description = fault_description(fault);
    if (description.empty()) {
        return {};
    }
    return "Error: " + std::string(description) + ".\n";
}

}  // namespace quarnel::inspect_messages
