#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "inspect/shown_text.h"

namespace quarnel {
namespace {

using namespace std::string_literals;

TEST(ShownText, ControlsAreEscapedWhateverTheirEncoding)
{
    struct Case {
        std::string text;
        std::string ascii_only;
        std::string utf8_allowed;
    };
    const Case cases[] = {
        {"plain text 123", "plain text 123", "plain text 123"},
        {"a\nb", "a\\nb", "a\\nb"},
        {"\x1b[31mred", "\\x1B[31mred", "\\x1B[31mred"},
        {"nul\0in"s, "nul\\x00in", "nul\\x00in"},
        {"del\x7f", "del\\x7F", "del\\x7F"},
        // C1 as a raw byte: CSI, which some terminals take for ESC [.
        {"\x9b"
         "31m",
         "\\x9B31m", "\\x9B31m"},
        // C1 in UTF-8: U+009B and U+0085.
        {"\xc2\x9b"
         "31m",
         "\\xC2\\x9B31m", "\\xC2\\x9B31m"},
        {"\xc2\x85", "\\xC2\\x85", "\\xC2\\x85"},
        // Letters and symbols beyond ASCII, some with continuation bytes in the C1 range.
        {"caf\xc3\xa9", "caf\\xC3\\xA9", "caf\xc3\xa9"},
        {"\xd0\x96", "\\xD0\\x96", "\xd0\x96"},
        {"\xc2\xa0", "\\xC2\\xA0", "\xc2\xa0"},
        {"\xe2\x82\xac", "\\xE2\\x82\\xAC", "\xe2\x82\xac"},
        {"\xf0\x9f\x98\x80", "\\xF0\\x9F\\x98\\x80", "\xf0\x9f\x98\x80"},
        // Malformed UTF-8: cut short, overlong, a surrogate, beyond U+10FFFF, a lone continuation.
        {"\xe2\x82", "\\xE2\\x82", "\\xE2\\x82"},
        {"\xc0\xaf", "\\xC0\\xAF", "\\xC0\\xAF"},
        {"\xe0\x80\xaf", "\\xE0\\x80\\xAF", "\\xE0\\x80\\xAF"},
        {"\xed\xa0\x80", "\\xED\\xA0\\x80", "\\xED\\xA0\\x80"},
        {"\xf4\x90\x80\x80", "\\xF4\\x90\\x80\\x80", "\\xF4\\x90\\x80\\x80"},
        {"\x96x", "\\x96x", "\\x96x"},
        {"\xc3"
         "A",
         "\\xC3A", "\\xC3A"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(shown_text(c.text), c.ascii_only) << c.ascii_only;
        EXPECT_EQ(shown_text(c.text, Shown::Utf8Allowed), c.utf8_allowed) << c.ascii_only;
    }
}

}  // namespace
}  // namespace quarnel
