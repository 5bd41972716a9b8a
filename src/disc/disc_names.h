// Names on the disc: the Joliet name (the folder's name as UTF-16), the rules
// it must keep, the key that finds two names a reader shows as one, and the
// primary tree's level-1 name made from it.
//
// The primary name of an entry: each code point of the name becomes itself
// when a digit, an upper-case ASCII letter or '_', upper case when a
// lower-case ASCII letter, and '_' otherwise. A file's name splits at its last
// '.' into a name of at most 8 characters and an extension of at most 3; a
// directory's dots become '_' and it keeps 8. Nothing left gives "_". Within
// a directory, taken in the byte order of their UTF-8 names, the first entry
// of each primary name keeps it; each later one gets "_1", "_2", ... at the
// end of its name (shortened to fit the 8) with the first number that makes
// it unique, counted on from the last number given for that name.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quarnel::disc {

inline constexpr std::size_t kMaxJolietUnits = 64;
inline constexpr std::size_t kMaxJolietLabelUnits = 16;
// A Joliet path (its names, a separator between each) that Windows opens as
// "D:\<path>" within its 260 units, the terminator included; bsdtar stops at 512.
inline constexpr std::size_t kMaxJolietPathUnits = 256;
inline constexpr std::size_t kMaxVolumeIdentifier = 32;

// `text` as UTF-16; -1 when it is not UTF-8 (overlong forms and surrogates
// included).
[[nodiscard]] int utf8_to_utf16(std::string_view text, std::u16string& units);

// Whether Joliet forbids the unit in a name: * / : ; ? \ and U+0000..U+001F.
bool is_forbidden_in_joliet(char16_t unit);

// Whether Windows forbids the unit in a name, beyond Joliet: " < > |.
bool is_forbidden_in_windows(char16_t unit);

// Whether the name ends in '.' or ' ', which Windows strips from the name it
// opens, as fuseiso and 7-Zip strip a '.' from the names they show.
bool ends_in_dot_or_space(std::u16string_view units);

// Whether Windows takes the name for a device: CON, PRN, AUX, NUL, COM1 to
// COM9 or LPT1 to LPT9 (COM¹ to COM³, LPT¹ to LPT³ too) in any case, before
// its first '.' and any spaces there.
bool is_windows_device_name(std::u16string_view units);

// Whether Windows can hold the UTF-8 name as it is: none of the units Joliet
// or Windows forbid, no final '.' or ' ', no device name.
bool windows_can_hold(std::string_view utf8_name);

// Equal for two names that a reader shows as one, Windows by case, macOS by
// case and by canonical equivalence: NFD(fold(NFD(name))) with Unicode's
// simple case folding, its canonical caseless match.
std::u32string caseless_key(std::u16string_view units);

// Of two names of one caseless key, whether they differ in letter case alone
// (É and é), rather than being one name written two ways in Unicode (é as
// one code point and as e and U+0301, É and e and U+0301).
bool differ_only_in_case(std::u16string_view a, std::u16string_view b);

// The primary identifier of one entry before uniqueness: "NAME.EXT" for a
// file (";1" is added on the disc), "NAME" for a directory.
std::string primary_name(std::string_view utf8_name, bool directory);

// The unique primary identifiers of the entries of one directory, given in
// the byte order of their UTF-8 names, as the header tells.
std::vector<std::string> unique_primary_names(const std::vector<std::string>& natural_names);

// The primary volume identifier made from `utf8` as a primary name is, at
// most 32 characters, or "CDROM" when it has no letter or digit.
std::string primary_volume_identifier(std::string_view utf8);

}  // namespace quarnel::disc
