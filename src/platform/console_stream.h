// Text on a standard stream as a person reads it: on a Windows console
// through the console's own call, so that non-ASCII file names show as they
// are; anywhere else the UTF-8 bytes as they stand.
#pragma once

#include <cstdio>
#include <string_view>

namespace quarnel {

// Writes the text on the stream and flushes it; false when either failed.
bool write_text(std::FILE* stream, std::string_view text);

}  // namespace quarnel
