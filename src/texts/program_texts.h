// The texts quarnel's programs word alike: the banner, the frame of --help
// and the line of --version. No operating system: the page links them too.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace quarnel::texts {

// Four lines and an empty one, ahead of everything else a run prints: `title`
// and the version, the copyright, the licence, the home page.
std::string banner_for(std::string_view title);

// What --help prints: the usage, the line that names --help and --version,
// what the program does (`body`, ending in its exit statuses), the home page.
std::string help_for(std::string_view usage, std::string_view program, std::string_view body);

// What --version prints: the program's name and the full version.
std::string version_for(std::string_view program);

// A text of pieces joined at run time: every text that joins pieces is made
// so, so that each literal stays whole in the program (a sum of literals may
// be compiled to fragments, which read as misspelt words to lintian).
std::string line_of(std::initializer_list<std::string_view> pieces);

// quarnel's and quarnel-pack's: both write an image through the same buffers.
inline constexpr std::string_view kUnableToAllocateBuffers = "Error: unable to allocate memory for buffers.\n";
inline constexpr std::string_view kSuccess = "Operation successfully completed.\n";

inline constexpr std::string_view kUnableToWriteHelp = "Error: unable to write help.\n";
inline constexpr std::string_view kUnableToWriteVersion = "Error: unable to write version.\n";

}  // namespace quarnel::texts
