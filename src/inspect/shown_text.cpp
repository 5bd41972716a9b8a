#include "inspect/shown_text.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace quarnel {
namespace {

bool is_continuation(std::uint8_t byte, std::uint8_t low = 0x80, std::uint8_t high = 0xBF)
{
    return byte >= low && byte <= high;
}

// The length of the well-formed UTF-8 sequence of two or more bytes at `at`
// (no overlong form, no surrogate, nothing above U+10FFFF), or 0.
std::size_t utf8_sequence_length(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[at + i]); };
    const std::size_t left = text.size() - at;
    const std::uint8_t lead = byte(0);
    if (lead >= 0xC2 && lead <= 0xDF) {
        return left >= 2 && is_continuation(byte(1)) ? 2 : 0;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        const std::uint8_t low = lead == 0xE0 ? 0xA0 : 0x80;
        const std::uint8_t high = lead == 0xED ? 0x9F : 0xBF;
        return left >= 3 && is_continuation(byte(1), low, high) && is_continuation(byte(2)) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const std::uint8_t low = lead == 0xF0 ? 0x90 : 0x80;
        const std::uint8_t high = lead == 0xF4 ? 0x8F : 0xBF;
        return left >= 4 && is_continuation(byte(1), low, high) && is_continuation(byte(2)) && is_continuation(byte(3))
                   ? 4
                   : 0;
    }
    return 0;
}

// U+0080 to U+009F: the C1 controls, which some terminals obey as ESC sequences.
bool is_encoded_c1(std::string_view sequence)
{
    return sequence.size() == 2 && static_cast<std::uint8_t>(sequence[0]) == 0xC2 &&
           static_cast<std::uint8_t>(sequence[1]) <= 0x9F;
}

void append_escaped(std::string& shown, char c)
{
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    const auto byte = static_cast<std::uint8_t>(c);
    if (c == '\n') {
        shown += "\\n";
        return;
    }
    shown += "\\x";
    shown += kHexDigits[byte >> 4];
    shown += kHexDigits[byte & 0x0F];
}

}  // namespace

std::string shown_text(std::string_view text, Shown allowed)
{
    if (std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; })) {
        return std::string(text);  // printable ASCII, shown as it is: most text, and quickly
    }
    std::string shown;
    for (std::size_t at = 0; at < text.size();) {
        const auto byte = static_cast<std::uint8_t>(text[at]);
        if (byte >= 0x20 && byte < 0x7F) {
            shown += text[at++];
            continue;
        }
        const std::size_t length = allowed == Shown::Utf8Allowed ? utf8_sequence_length(text, at) : 0;
        const std::string_view sequence = text.substr(at, length == 0 ? 1 : length);
        if (length != 0 && !is_encoded_c1(sequence)) {
            shown += sequence;
        } else {
            for (char c : sequence) {
                append_escaped(shown, c);
            }
        }
        at += sequence.size();
    }
    return shown;
}

}  // namespace quarnel
