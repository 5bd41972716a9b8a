#include "inspect/inspect_messages.h"

#include <initializer_list>
#include <string>

#include "image/header_area.h"
#include "inspect/shown_text.h"
#include "texts/program_texts.h"

namespace quarnel::inspect_messages {

std::string_view help_text()
{
    static const std::string help =
        texts::help_for(kUsage, "quarnel-inspect",
                        "Checks a USB modem CD-ROM image as quarnel writes it: every record header,\n"
                        "every block checksum and the disc inside. The report goes to standard\n"
                        "output; the first fault found is also named on standard error. With a\n"
                        "second path, the ISO is extracted there when the image is valid.\n"
                        "\n"
                        "  /files             list the disc's files and folders in the report: size,\n"
                        "                     time (UTC) and path of each, when the image is valid\n"
                        "                     and the disc's tree can be read safely\n"
                        "  /unpack:<folder>   write the disc's files and folders, with their times,\n"
                        "                     into <folder>, which must not exist yet: made whole\n"
                        "                     beside it, or not at all, when the image is valid and\n"
                        "                     the disc's tree can be read safely\n"
                        "  --help             print this help on standard output and exit\n"
                        "  --version          print the version on standard output and exit\n"
                        "\n"
                        "Exit status: 0 when every check passes (with /files or /unpack:, the disc's\n"
                        "tree read too, and unpacked), -1 (255 in a POSIX shell) otherwise.\n");
    return help;
}

std::string_view version_line()
{
    static const std::string line = texts::version_for("quarnel-inspect");
    return line;
}

namespace {

std::string quoted(std::string_view text) { return '"' + shown_text(text) + '"'; }

// What quarnel writes in the field, in the words a deviation is told with.
std::string written_value(const FieldDeviation& deviation)
{
    const HeaderFieldRow& row = header_field(deviation.field);
    switch (row.kind) {
    case FieldKind::Number:
        return std::to_string(row.number);
    case FieldKind::Text:
        return quoted(row.text);
    case FieldKind::PayloadLength:
        break;
    }
    return deviation.record == 0
               ? std::to_string(kSignatureBlockSize)
               : texts::line_of({"a whole number of ", std::to_string(kSectorSize), "-byte sectors below 2 GiB"});
}

// A text field as found: its zero fill dropped, any other zero byte shown.
std::string found_value(const FieldDeviation& deviation)
{
    if (header_field(deviation.field).kind != FieldKind::Text) {
        return std::to_string(deviation.number);
    }
    const std::size_t end = deviation.text.find_last_not_of('\0');
    return quoted(std::string_view(deviation.text).substr(0, end == std::string::npos ? 0 : end + 1));
}

std::string describe_deviation(const FieldDeviation& deviation)
{
    return texts::line_of({deviation.record == 0 ? "signature" : "image", " record's ",
                           header_field(deviation.field).name, " is ", found_value(deviation), ", not ",
                           written_value(deviation)});
}

}  // namespace

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

std::string_view disc_fault_description(disc::DiscFaultKind kind)
{
    using disc::DiscFaultKind;
    switch (kind) {
    case DiscFaultKind::ReadFailed:
        return "unable to read the disc";
    case DiscFaultKind::NoPrimaryDescriptor:
        return "no primary volume descriptor";
    case DiscFaultKind::BadBlockSize:
        return "logical block size is not 2048 bytes";
    case DiscFaultKind::VolumeBeyondDisc:
        return "volume is larger than the disc";
    case DiscFaultKind::ExtentOutsideVolume:
        return "an extent lies outside the volume";
    case DiscFaultKind::DirectoryLoop:
        return "a folder contains itself or an ancestor";
    case DiscFaultKind::SharedDirectory:
        return "two folders share sectors";
    case DiscFaultKind::FileOverDescriptors:
        return "a file overlaps the volume descriptors";
    case DiscFaultKind::FileOverDirectory:
        return "a file overlaps a folder's records";
    case DiscFaultKind::Interleaved:
        return "a file or folder is interleaved";
    case DiscFaultKind::BrokenMultiExtent:
        return "a file's extents are not one contiguous run";
    case DiscFaultKind::RecordCrossesSector:
        return "a directory record crosses a sector boundary";
    case DiscFaultKind::RecordPastDirectory:
        return "a directory record runs past its folder's extent";
    case DiscFaultKind::RecordTooShort:
        return "a directory record is too short for its name";
    case DiscFaultKind::ForbiddenCharacter:
        return "a name holds '/' or NUL";
    case DiscFaultKind::ReservedName:
        return "a name is empty, \".\" or \"..\"";
    case DiscFaultKind::OddJolietName:
        return "a Joliet name has an odd byte length";
    case DiscFaultKind::UnpairedSurrogate:
        return "a Joliet name has an unpaired surrogate";
    case DiscFaultKind::PathTooLong: {
        static const std::string text =
            texts::line_of({"a path is longer than ", std::to_string(disc::kMaxListedPathBytes), " bytes"});
        return text;
    }
    case DiscFaultKind::TooLarge:
        return "the tree holds more records than its volume can";
    case DiscFaultKind::None:
        break;
    }
    return "";
}

std::string disc_fault_description(const disc::DiscFault& fault)
{
    std::string text(disc_fault_description(fault.kind));
    if (fault.in_tree) {
        text += fault.joliet ? ", in the Joliet tree's " : ", in the primary tree's ";
        text += fault.directory.empty() ? "root" : texts::line_of({"folder ", quoted(fault.directory)});
    }
    return text;
}

std::string disc_fault_message(const disc::DiscFault& fault)
{
    return error_line(texts::line_of({"disc tree cannot be read safely: ", disc_fault_description(fault)}));
}

std::string error_line(std::string_view description)
{
    if (description.empty()) {
        return {};
    }
    return texts::line_of({"Error: ", description, ".\n"});
}

std::string fault_message(ImageFault fault) { return error_line(fault_description(fault)); }

std::string fault_message(const ImageReport& report) { return error_line(fault_description(report)); }

std::string unpack_failure_message(const UnpackOutcome& outcome, std::string_view folder)
{
    const std::string entry = quoted(outcome.path);
    const std::string place = quoted(folder);
    switch (outcome.failure) {
    case UnpackFailure::Exists:
        return texts::line_of({"Error: ", place, " exists already; /unpack: makes a new folder.\n"});
    case UnpackFailure::NameTaken:
        return texts::line_of({"Error: ", entry, " and another name of its folder are one name where ", place,
                               " would be (they differ in letter case, say); nothing was unpacked.\n"});
    case UnpackFailure::NameUnfit:
        return texts::line_of({"Error: ", entry, " is a name Windows cannot hold; nothing was unpacked.\n"});
    case UnpackFailure::WriteFailed:
        return texts::line_of({"Error: unable to write unpacked folder ", place, ".\n"});
    case UnpackFailure::CannotCreate:
    case UnpackFailure::None:
        break;
    }
    return outcome.path.empty() ? texts::line_of({"Error: unable to create unpacked folder ", place, ".\n"})
                                : texts::line_of({"Error: unable to create ", entry, " in unpacked folder ", place,
                                                  "; nothing was unpacked.\n"});
}

}  // namespace quarnel::inspect_messages
