// Every text quarnel-pack prints, each as it goes to standard error; the
// refusals name the path they are about. No operating-system code: the page
// words its refusals with these too.
#pragma once

#include <string>
#include <string_view>

#include "disc/disc_layout.h"
#include "texts/program_texts.h"

namespace quarnel::pack_messages {

std::string_view banner_text();

inline constexpr std::string_view kUsage =
    "Usage: quarnel-pack [/model:E220] [/label:<volume label>] [/iso] <folder> <destination>\n";
// What --help prints: the usage, what the program does, the home page.
std::string_view help_text();
// What --version prints.
std::string_view version_line();

inline constexpr std::string_view kUnableToAllocate = texts::kUnableToAllocateBuffers;
inline constexpr std::string_view kInterrupted = "Error: packing interrupted.\n";
using texts::kSuccess;

// Paths are shown as given on the command line, the folder's entries below it
// with '/' between names.
// An entry of the folder as the user finds it: below the folder as given (the folder for none).
std::string below(std::string_view folder, std::string_view entry);
std::string not_a_folder(std::string_view folder);
std::string unable_to_read(std::string_view path);
std::string not_a_file_or_folder(std::string_view path);
std::string refusal(const disc::Refusal& refusal, std::string_view folder);
std::string unable_to_create_destination(std::string_view destination);
std::string unable_to_write_destination(std::string_view destination);

}  // namespace quarnel::pack_messages
