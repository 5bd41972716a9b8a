// Texts from an image or a command line, made safe to show: a hostile image or
// file name must not drive the terminal that reads the report.
#pragma once

#include <string>
#include <string_view>

namespace quarnel {

enum class Shown { AsciiOnly, Utf8Allowed };

// Control characters (C0, DEL and C1, whether a raw byte or UTF-8's C2 80 to
// C2 9F) become \xNN, a newline \n; so does every byte outside printable
// ASCII, unless Utf8Allowed lets well-formed UTF-8 through.
std::string shown_text(std::string_view text, Shown allowed = Shown::AsciiOnly);

}  // namespace quarnel
