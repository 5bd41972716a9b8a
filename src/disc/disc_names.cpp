#include "disc/disc_names.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
#include <set>

#include "disc/unicode_tables.h"

namespace quarnel::disc {

namespace {

constexpr std::size_t kMaxPrimaryName = 8;
constexpr std::size_t kMaxPrimaryExtension = 3;

// The entry of `table` for `c`, whose field `key` orders the table; null when it has none.
template <typename Row, std::size_t size> const Row* row_of(const Row (&table)[size], char32_t c, char32_t Row::*key)
{
    const Row* at = std::lower_bound(std::begin(table), std::end(table), c,
                                     [key](const Row& row, char32_t value) { return row.*key < value; });
    return at != std::end(table) && at->*key == c ? at : nullptr;
}

std::u32string code_points(std::u16string_view units)
{
    std::u32string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000) {
            out += static_cast<char32_t>(0x10000 + ((unit - 0xD800) << 10) + (units[++i] - 0xDC00));
        } else {
            out += unit;
        }
    }
    return out;
}

char32_t folded(char32_t c)
{
    const unicode::CaseFold* fold = row_of(unicode::kCaseFolds, c, &unicode::CaseFold::from);
    return fold != nullptr ? fold->to : c;
}

std::uint8_t combining_class(char32_t c)
{
    const auto* run =
        std::upper_bound(std::begin(unicode::kCombiningClasses), std::end(unicode::kCombiningClasses), c,
                         [](char32_t value, const unicode::CombiningClass& row) { return value < row.first; });
    return run != std::begin(unicode::kCombiningClasses) && c <= (run - 1)->last ? (run - 1)->value : 0;
}

constexpr char32_t kHangulFirst = 0xAC00;
constexpr char32_t kHangulCount = 11172;
constexpr char32_t kHangulTrailing = 28;
constexpr char32_t kHangulVowelsAndTrailing = 21 * kHangulTrailing;

void decompose(char32_t c, std::u32string& out)
{
    if (c >= kHangulFirst && c < kHangulFirst + kHangulCount) {
        const char32_t s = c - kHangulFirst;
        out += static_cast<char32_t>(0x1100 + s / kHangulVowelsAndTrailing);
        out += static_cast<char32_t>(0x1161 + s % kHangulVowelsAndTrailing / kHangulTrailing);
        if (s % kHangulTrailing != 0) {
            out += static_cast<char32_t>(0x11A7 + s % kHangulTrailing);
        }
        return;
    }
    const unicode::Decomposition* parts = row_of(unicode::kDecompositions, c, &unicode::Decomposition::from);
    if (parts == nullptr) {
        out += c;
        return;
    }
    decompose(parts->first, out);
    if (parts->second != 0) {
        decompose(parts->second, out);
    }
}

// The canonical decomposition (NFD): every code point decomposed, each run
// of combining marks in the order of their classes.
std::u32string nfd(std::u32string_view text)
{
    std::u32string out;
    for (const char32_t c : text) {
        decompose(c, out);
    }
    for (auto mark = out.begin(); mark != out.end();) {
        const auto is_mark = [](char32_t c) { return combining_class(c) != 0; };
        mark = std::find_if(mark, out.end(), is_mark);
        const auto starter = std::find_if_not(mark, out.end(), is_mark);
        std::stable_sort(mark, starter, [](char32_t a, char32_t b) { return combining_class(a) < combining_class(b); });
        mark = starter;
    }
    return out;
}

std::u32string folded_all(std::u32string text)
{
    std::transform(text.begin(), text.end(), text.begin(), folded);
    return text;
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

bool is_forbidden_in_windows(char16_t unit) { return unit == u'"' || unit == u'<' || unit == u'>' || unit == u'|'; }

bool ends_in_dot_or_space(std::u16string_view units) { return units.ends_with(u'.') || units.ends_with(u' '); }

bool windows_can_hold(std::string_view utf8_name)
{
    std::u16string units;
    if (utf8_to_utf16(utf8_name, units) != 0) {
        return false;
    }
    const bool forbidden = std::any_of(units.begin(), units.end(), [](char16_t unit) {
        return is_forbidden_in_joliet(unit) || is_forbidden_in_windows(unit);
    });
    return !forbidden && !ends_in_dot_or_space(units) && !is_windows_device_name(units);
}

bool is_windows_device_name(std::u16string_view units)
{
    std::u16string stem(units.substr(0, units.find(u'.')));
    stem.erase(stem.find_last_not_of(u' ') + 1);
    std::transform(stem.begin(), stem.end(), stem.begin(),
                   [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; });
    if (stem == u"CON" || stem == u"PRN" || stem == u"AUX" || stem == u"NUL") {
        return true;
    }
    const std::u16string_view number = std::u16string_view(stem).substr(std::min<std::size_t>(stem.size(), 3));
    const bool port = stem.starts_with(u"COM") || stem.starts_with(u"LPT");
    return port && number.size() == 1 &&
           ((number[0] >= u'1' && number[0] <= u'9') || number[0] == u'\u00B9' || number[0] == u'\u00B2' ||
            number[0] == u'\u00B3');
}

std::u32string caseless_key(std::u16string_view units) { return nfd(folded_all(nfd(code_points(units)))); }

bool differ_only_in_case(std::u16string_view a, std::u16string_view b)
{
    const std::u32string points_a = code_points(a);
    const std::u32string points_b = code_points(b);
    return folded_all(points_a) == folded_all(points_b) && nfd(points_a) != nfd(points_b);
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
