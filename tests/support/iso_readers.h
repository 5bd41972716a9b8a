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

// Readers that list a disc's entries with their sizes and times, run with
// TZ=UTC; isoinfo -l shows the primary names, the others the Joliet ones
// where the disc has them (7z and bsdtar the Rock Ridge ones first).
enum class Lists { Isoinfo, SevenZip, Tar };

struct Lister {
    std::string name;
    Lists lists;
    std::vector<std::string> command;  // "@iso" stands for the disc
    bool primary = false;              // shows the primary tree's names
    bool joliet = false;               // shows the Joliet tree's names alone: skipped on a disc without
};

inline const Lister kListers[] = {
    {"isoinfo -J -l", Lists::Isoinfo, {"/usr/bin/isoinfo", "-i", "@iso", "-l", "-J", "-j", "iso8859-1"}, false, true},
    {"isoinfo -l", Lists::Isoinfo, {"/usr/bin/isoinfo", "-i", "@iso", "-l"}, true},
    {"7z l", Lists::SevenZip, {"/usr/bin/7z", "l", "@iso"}},
    {"bsdtar -tv", Lists::Tar, {"/usr/bin/bsdtar", "-tvf", "@iso"}},
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
