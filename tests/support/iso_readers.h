// The ISO 9660 readers, none of them ours, that the disc and pack tests hold
// discs to, and how each is run.
#pragma once

#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "support/process.h"

namespace quarnel::test {

// Mounted: the disc mounted at "@out" (through FUSE), read as an extracted tree, then unmounted.
enum class Shows { Extracted, Mounted, JolietListing, PrimaryListing };

struct Reader {
    std::string name;
    Shows shows;
    std::vector<std::string> command;          // "@iso" and "@out" stand for the disc and a new directory
    std::int64_t last_time_shown = INT64_MAX;  // later times it shows wrapped
    bool takes_ucs2 = false;                   // loses names beyond the BMP, whose pairs it takes for two units
};

inline const Reader kReaders[] = {
    {"7z", Shows::Extracted, {"/usr/bin/7z", "x", "-y", "-o@out", "@iso"}},
    {"bsdtar", Shows::Extracted, {"/usr/bin/bsdtar", "-xf", "@iso", "-C", "@out"}},
    {"xorriso", Shows::Extracted, {"/usr/bin/xorriso", "-osirrox", "on", "-indev", "@iso", "-extract", "/", "@out"}},
    {"isoinfo -J", Shows::JolietListing, {"/usr/bin/isoinfo", "-i", "@iso", "-l", "-J", "-j", "iso8859-1"}},
    {"isoinfo", Shows::PrimaryListing, {"/usr/bin/isoinfo", "-i", "@iso", "-l"}},
    {"iso-info", Shows::JolietListing, {"/usr/bin/iso-info", "-i", "@iso", "-l", "--no-header"}, INT64_MAX, true},
    {"fuseiso", Shows::Mounted, {"/usr/bin/fuseiso", "@iso", "@out"}, INT32_MAX, true},
};

inline std::vector<std::string> reader_command(const Reader& reader, const std::string& iso, const std::string& out)
{
    std::vector<std::string> command = reader.command;
    for (std::string& word : command) {
        word = std::regex_replace(word, std::regex("@iso"), iso);
        word = std::regex_replace(word, std::regex("@out"), out);
    }
    return command;
}

// Unmounts a reader's mount however the checks of it end.
struct Mount {
    std::string at;
    bool mounted = false;
    ~Mount()
    {
        if (mounted) {
            (void)run_process({"/usr/bin/fusermount", "-u", at});
        }
    }
};

}  // namespace quarnel::test
