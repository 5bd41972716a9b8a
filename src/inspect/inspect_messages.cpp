#include "inspect/inspect_messages.h"

#include <string>

#include "inspect/shown_text.h"

namespace quarnel::inspect_messages {
namespace {

std::string quoted(std::string_view text) { return '"' + shown_text(text) + '"'; }

// What quarnel writes in the field, in the words a deviation is told with.
std::string written_value(const FieldDeviation& deviation)
{
    switch (deviation.field) {
    case HeaderField::FixedOne:
        return std::to_string(kFixedOne);
    case HeaderField::IdentText:
        return quoted(kIdentText);
    case HeaderField::PayloadLength:
        return deviation.record == 0 ? std::to_string(kSignatureBlockSize)
                                     : "a whole number of " + std::to_string(kSectorSize) + "-byte sectors below 2 GiB";
    case HeaderField::DateText:
        return quoted(kDateText);
    case HeaderField::TimeText:
        return quoted(kTimeText);
    case HeaderField::LabelText:
        return quoted(kLabelText);
    case HeaderField::BlockSize:
        return std::to_string(kBlockSize);
    case HeaderField::Zero10:
    case HeaderField::Zero20:
    case HeaderField::Zero96:
        break;
    }
    return "0";
}

bool is_text_field(HeaderField field)
{
    return field == HeaderField::IdentText || field == HeaderField::DateText || field == HeaderField::TimeText ||
           field == HeaderField::LabelText;
}

// A text field as found: its zero fill dropped, any other zero byte shown.
std::string found_value(const FieldDeviation& deviation)
{
    if (!is_text_field(deviation.field)) {
        return std::to_string(deviation.number);
    }
    const std::size_t end = deviation.text.find_last_not_of('\0');
    return quoted(std::string_view(deviation.text).substr(0, end == std::string::npos ? 0 : end + 1));
}

std::string describe_deviation(const FieldDeviation& deviation)
{
    return std::string(deviation.record == 0 ? "signature" : "image") + " record's " +
           std::string(field_name(deviation.field)) + " is " + found_value(deviation) + ", not " +
           written_value(deviation);
}

}  // namespace

std::string_view field_name(HeaderField field)
{
    switch (field) {
    case HeaderField::FixedOne:
        return "fixed_one";
    case HeaderField::Zero10:
        return "zero field at 10";
    case HeaderField::IdentText:
        return "ident_text";
    case HeaderField::Zero20:
        return "zero field at 20";
    case HeaderField::PayloadLength:
        return "payload_length";
    case HeaderField::DateText:
        return "date_text";
    case HeaderField::TimeText:
        return "time_text";
    case HeaderField::LabelText:
        return "label_text";
    case HeaderField::BlockSize:
        return "block_size";
    case HeaderField::Zero96:
        break;
    }
    return "zero field at 96";
}

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
    case ImageFault::UnexpectedField:
        return "record header field holds a value quarnel never writes";
    case ImageFault::BadHeaderChecksum:
        return "record header checksum does not match";
    case ImageFault::BadHeaderLength:
        return "record header length is invalid";
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
    case ImageFault::VolumeCutShort:
        return "disc volume is larger than the payload, the ISO was cut short";
    case ImageFault::None:
    case ImageFault::Count:
        break;
    }
    return "";
}

std::string fault_description(const ImageReport& report)
{
    if (report.fault == ImageFault::UnexpectedField && report.deviation) {
        return describe_deviation(*report.deviation);
    }
    return std::string(fault_description(report.fault));
}

namespace {

std::string error_line(std::string_view description)
{
    if (description.empty()) {
        return {};
    }
    return "Error: " + std::string(description) + ".\n";
}

}  // namespace

std::string fault_message(ImageFault fault) { return error_line(fault_description(fault)); }

std::string fault_message(const ImageReport& report) { return error_line(fault_description(report)); }

}  // namespace quarnel::inspect_messages
