#include "disc/disc_names.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
#include <set>

namespace quarnel::disc {

namespace {

constexpr std::size_t kMaxPrimaryName = 8;
constexpr std::size_t kMaxPrimaryExtension = 3;

struct Span {
    char16_t first;
    char16_t last;
};

bool within(char16_t unit, Span span) { return unit >= span.first && unit <= span.last; }

// Ranges where upper and lower case alternate, the upper case on the even
// (or, for `odd_upper`, the odd) code point.
struct Alternating {
    Span span;
    bool odd_upper;
};

constexpr Alternating kAlternating[] = {
    {{0x0100, 0x012F}, false}, {{0x0132, 0x0137}, false}, {{0x0139, 0x0148}, true},  {{0x014A, 0x0177}, false},
    {{0x0179, 0x017E}, true},  {{0x0460, 0x0481}, false}, {{0x048A, 0x04BF}, false}, {{0x04C1, 0x04CE}, true},
    {{0x04D0, 0x052F}, false}, {{0x1E00, 0x1E95}, false}, {{0x1EA0, 0x1EFF}, false},
};

// Ranges of capitals whose small letters lie a fixed distance on.
struct Shifted {
    Span span;
    char16_t distance;
};

constexpr Shifted kShifted[] = {
    {{u'A', u'Z'}, 0x20},     {{0x00C0, 0x00D6}, 0x20}, {{0x00D8, 0x00DE}, 0x20}, {{0x0388, 0x038A}, 0x25},
    {{0x038E, 0x038F}, 0x3F}, {{0x0391, 0x03A1}, 0x20}, {{0x03A3, 0x03AB}, 0x20}, {{0x0400, 0x040F}, 0x50},
    {{0x0410, 0x042F}, 0x20}, {{0x0531, 0x0556}, 0x30}, {{0xFF21, 0xFF3A}, 0x20},
};

struct Single {
    char16_t from;
    char16_t to;
};

constexpr Single kSingles[] = {
    {0x00B5, 0x03BC}, {0x0178, 0x00FF}, {0x017F, u's'},   {0x0386, 0x03AC},
    {0x038C, 0x03CC}, {0x03C2, 0x03C3}, {0x04C0, 0x04CF}, {0x1E9E, 0x00DF},
};

char16_t folded(char16_t unit)
{
    const Shifted* shifted = std::find_if(std::begin(kShifted), std::end(kShifted),
                                          [unit](const Shifted& range) { return within(unit, range.span); });
    if (shifted != std::end(kShifted)) {
        return static_cast<char16_t>(unit + shifted->distance);
    }
    const Alternating* alternating =
        std::find_if(std::begin(kAlternating), std::end(kAlternating),
                     [unit](const Alternating& range) { return within(unit, range.span); });
    if (alternating != std::end(kAlternating)) {
        const bool upper = (unit % 2 == 1) == alternating->odd_upper;
        return upper ? static_cast<char16_t>(unit + 1) : unit;
    }
    const Single* single = std::find_if(std::begin(kSingles), std::end(kSingles),
                                        [unit](const Single& pair) { return pair.from == unit; });
    return single != std::end(kSingles) ? single->to : unit;
}

bool is_d_character(char32_t c) { return (c >= U'A' && c <= U'Z') || (c >= U'0' && c <= U'9') || c == U'_'; }

// The primary characters of valid UTF-8 `text`, one per code point, '.' kept.
std::string mapped(std::string_view text)
{
    std::string out;
    for (const char byte : text) {
        const auto c = static_cast<unsigned char>(byte);
        if ((c & 0xC0) == 0x80) {
            continue;  // continuation: the code point has had its '_'
        }
        if (c >= 'a' && c <= 'z') {
            out += static_cast<char>(c - 'a' + 'A');
        } else if (is_d_character(c) || c == '.') {
            out += static_cast<char>(c);
        } else {
            out += '_';
        }
    }
    return out;
}

void replace_dots(std::string& text) { std::replace(text.begin(), text.end(), '.', '_'); }

// What must differ between two identifiers of one directory: a file without
// an extension stands for the directory of its name.
std::string uniqueness_key(const std::string& name)
{
    return name.ends_with('.') ? name.substr(0, name.size() - 1) : name;
}

}  // namespace

int utf8_to_utf16(std::string_view text, std::u16string& units)
{
    units.clear();
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 1;
        char32_t c = lead;
        char32_t least = 0;
        if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, c = lead & 0x07, least = 0x10000;
        } else if (lead >= 0xE0 && lead < 0xF0) {
            length = 3, c = lead & 0x0F, least = 0x800;
        } else if (lead >= 0xC2 && lead < 0xE0) {
            length = 2, c = lead & 0x1F, least = 0x80;
        } else if (lead >= 0x80) {
            return -1;
        }
        if (text.size() - i < length) {
            return -1;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return -1;
            }
            c = (c << 6) | (next & 0x3F);
        }
        if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            return -1;
        }
        if (c >= 0x10000) {
            units += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            units += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            units += static_cast<char16_t>(c);
        }
        i += length;
    }
    return 0;
}

bool is_forbidden_in_joliet(char16_t unit)
{
    return unit < 0x20 || unit == u'*' || unit == u'/' || unit == u':' || unit == u';' || unit == u'?' || unit == u'\\';
}

std::u16string fold_case(std::u16string_view units)
{
    std::u16string out(units.size(), u'\0');
    std::transform(units.begin(), units.end(), out.begin(), folded);
    return out;
}

std::string primary_name(std::string_view utf8_name, bool directory)
{
    std::string all = mapped(utf8_name);
    if (directory) {
        replace_dots(all);
        all.resize(std::min(all.size(), kMaxPrimaryName));
        return all.empty() ? "_" : all;
    }
    const std::size_t dot = all.rfind('.');
    std::string name = all.substr(0, dot);
    std::string extension = dot == std::string::npos ? std::string() : all.substr(dot + 1);
    replace_dots(name);
    name.resize(std::min(name.size(), kMaxPrimaryName));
    extension.resize(std::min(extension.size(), kMaxPrimaryExtension));
    if (name.empty() && extension.empty()) {
        name.push_back('_');
    }
    name += '.';
    name += extension;
    return name;
}

std::vector<std::string> unique_primary_names(const std::vector<std::string>& natural_names)
{
    std::vector<std::string> names(natural_names.size());
    std::set<std::string> taken;
    std::vector<std::size_t> later;
    for (std::size_t i = 0; i < natural_names.size(); ++i) {
        if (taken.insert(uniqueness_key(natural_names[i])).second) {
            names[i] = natural_names[i];
        } else {
            later.push_back(i);
        }
    }
    std::map<std::string, unsigned> last_number;
    for (const std::size_t i : later) {
        const std::string& natural = natural_names[i];
        const std::size_t dot = natural.find('.');
        const std::string stem = natural.substr(0, dot);
        const std::string tail = dot == std::string::npos ? std::string() : natural.substr(dot);
        unsigned& number = last_number[natural];
        std::string candidate;
        do {
            const std::string suffix = std::to_string(++number);
            candidate = stem.substr(0, kMaxPrimaryName - 1 - suffix.size());
            candidate += '_';
            candidate += suffix;
            candidate += tail;
        } while (!taken.insert(uniqueness_key(candidate)).second);
        names[i] = candidate;
    }
    return names;
}

std::string primary_volume_identifier(std::string_view utf8)
{
    std::string identifier = mapped(utf8);
    replace_dots(identifier);
    identifier.resize(std::min(identifier.size(), kMaxVolumeIdentifier));
    const bool named = std::any_of(identifier.begin(), identifier.end(), [](char c) { return c != '_'; });
    return named ? identifier : "CDROM";
}

}  // namespace quarnel::disc
