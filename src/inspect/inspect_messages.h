// Every text quarnel-inspect prints on standard error, and the words for each
// fault an image can have.
#pragma once

#include <string>
#include <string_view>

#include "disc/disc_reader.h"
#include "image/image_reader.h"
#include "inspect/unpack_failure.h"

namespace quarnel::inspect_messages {

inline constexpr std::string_view kUsage =
    "Usage: quarnel-inspect [/files] [/unpack:<folder>] <image .bin> [<extracted .iso>]\n";

// What --help prints on standard output: the usage line, then what the program does.
// What --help prints: the usage, what the program does, the home page.
std::string_view help_text();
// What --version prints.
std::string_view version_line();

inline constexpr std::string_view kUnableToOpenImage = "Error: unable to open image file.\n";
inline constexpr std::string_view kSameFile = "Error: image and extracted file are the same file.\n";
inline constexpr std::string_view kUnableToCreateExtracted = "Error: unable to create extracted file.\n";
inline constexpr std::string_view kUnableToWriteExtracted = "Error: unable to write extracted file.\n";
inline constexpr std::string_view kUnableToWriteReport = "Error: unable to write report.\n";
inline constexpr std::string_view kUnableToAllocate = "Error: unable to allocate memory.\n";
inline constexpr std::string_view kInterrupted = "Error: inspection interrupted.\n";

// The report's line after the verdict when the extracted file could not be written.
inline constexpr std::string_view kExtractionFailedLine = "Extraction: failed\n";

// The fault in a few words, as the report's verdict names it; empty for None.
std::string_view fault_description(ImageFault fault);

// The report's first fault, with the field and the value found when a header
// field holds what quarnel never writes:
// "image record's block_size is 2048, not 4096".
std::string fault_description(const ImageReport& report);

// What makes a disc's tree unsafe to read, in a few words; empty for None.
std::string_view disc_fault_description(disc::DiscFaultKind kind);

// The fault and where it lies: "a name holds '/' or NUL, in the Joliet tree's folder \"boot\"".
std::string disc_fault_description(const disc::DiscFault& fault);

// The line on standard error when /files finds the tree unsafe to read.
std::string disc_fault_message(const disc::DiscFault& fault);

// A failure's line on standard error: "Error: <description>.\n"; empty for no description.
std::string error_line(std::string_view description);

// The fault's line on standard error: "Error: <description>.\n".
std::string fault_message(ImageFault fault);
std::string fault_message(const ImageReport& report);

// Why /unpack: made nothing of `folder`: its line on standard error.
std::string unpack_failure_message(const UnpackOutcome& outcome, std::string_view folder);

}  // namespace quarnel::inspect_messages
