// Discs laid out from folders held in memory, written with contents made up
// from each file's path, and read back by ISO 9660 readers we did not write:
// the names, bytes and times they show must be the ones put in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "disc/disc_layout.h"
#include "disc/disc_names.h"
#include "disc/disc_reader.h"
#include "disc/disc_records.h"
#include "image/header_area.h"
#include "image/image_source.h"
#include "image/integers.h"
#include "support/expected_image.h"
#include "support/iso_readers.h"
#include "support/process.h"

namespace quarnel::disc {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kTime = 1765190096;      // 2025-12-08T10:34:56Z
constexpr std::uint64_t kReadLimit = 64 << 20;  // larger discs are laid out, not written

Entry file(std::string name, std::uint64_t size, std::int64_t modified = kTime)
{
    return {std::move(name), false, 0, size, modified, std::nullopt, {}};
}

Entry folder(std::string name, std::vector<Entry> children, std::int64_t modified = kTime)
{
    return {std::move(name), true, 0, 0, modified, std::nullopt, std::move(children)};
}

Entry linked(Entry entry, std::uint64_t inode)
{
    entry.identity = FileIdentity{1, inode};
    return entry;
}

std::vector<std::uint8_t> whole_metadata(const DiscLayout& layout)
{
    std::vector<std::uint8_t> bytes(layout.metadata_size);
    layout.metadata->fill(0, bytes);
    return bytes;
}

struct DiscCase {
    std::string name{};
    Entry root{};
    std::optional<std::string> label{};
    std::optional<Refusal> refusal{};      // what the layout must refuse, if anything
    std::set<std::string> primary_root{};  // the primary identifiers in the root, when given
    std::string primary_volume{};          // when given
    std::string joliet_volume{};           // when given, as UTF-8
    std::optional<std::size_t> extents{};  // the number of file extents, when given
    // Names beyond the BMP, which libcdio and fuseiso take for UCS-2 and so lose.
    bool beyond_the_bmp = false;
    // Directories added to the root when the case runs: too many to build while the tests are listed.
    int added_directories = 0;
};

// What a file holds: bytes made from its path, or from its identity for a
// linked file, so that every name of it holds the same.
std::string contents(const Entry& entry, const std::string& path)
{
    return test::bytes_named(entry.identity ? std::to_string(entry.identity->inode) : path, entry.size);
}

struct Expected {
    const Entry* entry;
    std::int64_t time;  // a directory's: the newest of what it holds
};

std::int64_t expect(const Entry& entry, const std::string& path, std::map<std::string, Expected>& out)
{
    std::int64_t newest = entry.modified;
    for (std::size_t i = 0; i < entry.children.size(); ++i) {
        const Entry& child = entry.children[i];
        const std::int64_t time = expect(child, path.empty() ? child.name : path + "/" + child.name, out);
        newest = i == 0 ? time : std::max(newest, time);
    }
    if (!path.empty()) {
        out[path] = {&entry, newest};
    }
    return newest;
}

// Each entry's path below the root, by the entry: the layout gives entries, not paths.
std::map<const Entry*, std::string> paths_of(const Entry& root)
{
    std::map<std::string, Expected> expected;
    (void)expect(root, {}, expected);
    std::map<const Entry*, std::string> paths;
    for (const auto& [path, item] : expected) {
        paths[item.entry] = path;
    }
    return paths;
}

// The folder as another machine's scan might give it: each directory reversed.
Entry reversed(Entry entry)
{
    std::reverse(entry.children.begin(), entry.children.end());
    for (Entry& child : entry.children) {
        child = reversed(std::move(child));
    }
    return entry;
}

// How a reader shows a name of the Joliet tree: isoinfo in ISO 8859-1 with
// '_' for each UTF-16 unit beyond it; libcdio cuts a name's UTF-8 to the
// length of its UCS-2.
std::string shown_name(const std::string& utf8, bool latin1)
{
    std::string out;
    std::size_t start = 0;
    std::size_t units = 0;
    for (std::size_t i = 0; i <= utf8.size(); ++i) {
        const auto byte = static_cast<unsigned char>(i < utf8.size() ? utf8[i] : '/');
        if (byte == '/') {
            out.append(latin1 ? "" : utf8.substr(start, std::min(i - start, 2 * units)));
            out.append(i < utf8.size() ? "/" : "");
            start = i + 1;
            units = 0;
        } else if (latin1 && (byte == 0xC2 || byte == 0xC3)) {
            out.push_back(static_cast<char>(((byte & 0x1F) << 6) | (utf8[i + 1] & 0x3F)));
        } else if (latin1 && (byte & 0xC0) != 0x80) {
            out.append(byte < 0x80 ? std::string(1, static_cast<char>(byte)) : byte >= 0xF0 ? "__" : "_");
        }
        units += (byte & 0xC0) == 0x80 ? 0 : byte >= 0xF0 ? 2 : 1;
    }
    return out;
}

std::string shown_time(std::int64_t seconds, const char* format)
{
    const std::time_t t = seconds;
    std::tm tm{};
    ::gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, format, &tm);
    return text;
}

using test::Mount;
using test::Reader;
using test::Shows;

struct Listed {
    bool directory;
    std::uint64_t size;
    std::uint32_t sector;
    std::string time;  // as the reader shows it
};

// `isoinfo -l` and `iso-info -l`: a heading for each directory, then a line an entry.
std::map<std::string, Listed> parse_listing(const std::string& text, bool isoinfo)
{
    static const std::regex isoinfo_line(R"(^([d-])\S+ +\S+ +\S+ +\S+ +(\d+) (\S+ +\d+ \d+) \[ *(\d+) \d+\]  (.*) $)");
    static const std::regex iso_info_line(R"(^  ([d-]) \[LSN +(\d+)\] +(\d+) (\S+ \d+ \d+ [\d:]+)  (.*)$)");
    static const std::regex heading(R"(^(?:Directory listing of )?/(.*?):?$)");
    std::map<std::string, Listed> listing;
    std::string directory;
    std::istringstream lines(text);
    std::smatch m;
    for (std::string line; std::getline(lines, line);) {
        if (std::regex_match(line, m, isoinfo ? isoinfo_line : iso_info_line)) {
            if (m[5] != "." && m[5] != "..") {
                listing[directory + m[5].str()] = {m[1] == "d", std::stoull(m[isoinfo ? 2 : 3]),
                                                   static_cast<std::uint32_t>(std::stoul(m[isoinfo ? 4 : 2])),
                                                   m[isoinfo ? 3 : 4]};
            }
        } else if (std::regex_match(line, m, heading)) {
            directory = m[1];
        }
    }
    return listing;
}

// Our reader's listing of a disc file: path (folders ending in '/') to kind, size and time.
std::map<std::string, Listed> our_listing(const std::string& iso, DiscNames names, DiscFault& fault, bool& joliet)
{
    const std::string bytes = test::read_text(iso);
    MemoryImageSource source(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    DiscListing listing;
    if (read_disc_listing(source, 0, bytes.size(), listing, fault, names) != 0) {
        return {};
    }
    joliet = listing.joliet;
    std::map<std::string, Listed> shown;
    for (std::size_t i = 0; i < listing.items.size(); ++i) {
        const DiscItem& item = listing.items[i];
        shown[listing.path(i)] = {item.directory, item.size, item.sector, std::to_string(listing.time(i).value_or(-1))};
    }
    return shown;
}

class DiscLayoutTest : public testing::TestWithParam<DiscCase> {
protected:
    void SetUp() override
    {
        root_ = GetParam().root;
        for (int i = 0; i < GetParam().added_directories; ++i) {
            root_.children.push_back(folder(std::to_string(i), {}));
        }
        expect(root_, {}, expected_);
        paths_ = paths_of(root_);
    }

    void write_disc(const DiscLayout& layout, const std::vector<std::uint8_t>& metadata)
    {
        std::ofstream out(dir_ / "disc.iso", std::ios::binary);
        out.write(reinterpret_cast<const char*>(metadata.data()), static_cast<std::streamsize>(metadata.size()));
        std::uint64_t at = metadata.size();
        for (const FileExtent& extent : layout.files) {
            ASSERT_EQ(std::uint64_t{extent.sector} * kDiscSectorSize, at) << paths_.at(extent.entry);
            std::string bytes = contents(*extent.entry, paths_.at(extent.entry));
            bytes.resize(sectors_for(bytes.size()) * kDiscSectorSize);
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            at += bytes.size();
        }
        ASSERT_EQ(at, std::uint64_t{layout.total_sectors} * kDiscSectorSize);
        ASSERT_TRUE(out.flush());
    }

    // An extracted tree must be the folder: names, bytes, times.
    void check_extracted(const Reader& shown_by, const fs::path& out)
    {
        const std::string& reader = shown_by.name;
        std::set<std::string> found;
        for (const fs::directory_entry& item : fs::recursive_directory_iterator(out)) {
            const std::string path = fs::relative(item.path(), out).string();
            found.insert(path);
            const auto expected = expected_.find(path);
            ASSERT_NE(expected, expected_.end()) << reader << " shows " << path << ", which was not put in";
            const Entry& entry = *expected->second.entry;
            ASSERT_EQ(item.is_directory(), entry.directory) << reader << ": " << path;
            struct stat st {};
            ASSERT_EQ(::lstat(item.path().c_str(), &st), 0);
            // ext4 keeps no time before 1901-12-13 (32 bits), and holds that instead.
            if (!entry.directory && expected->second.time >= INT32_MIN) {
                EXPECT_TRUE(test::read_text(item.path()) == contents(entry, path)) << reader << ": bytes of " << path;
                if (expected->second.time <= shown_by.last_time_shown) {
                    EXPECT_EQ(st.st_mtime, expected->second.time) << reader << ": time of " << path;
                }
            }
        }
        EXPECT_EQ(found.size(), expected_.size()) << reader;
    }

    // A listing must show the folder's entries, sizes and times: by name in
    // the Joliet tree, through each file's extent in the primary one, whose
    // names must be unique 8.3 d-characters.
    void check_listing(const Reader& reader, const std::map<std::string, Listed>& listing, const DiscLayout& layout)
    {
        const bool isoinfo = reader.name.starts_with("isoinfo");
        const char* time_format = isoinfo ? "%b %e %Y" : "%b %d %Y %H:%M:%S";
        static const std::regex stored_name("^([A-Z0-9_]{1,8}|[A-Z0-9_]{0,8}\\.[A-Z0-9_]{0,3};1)$");
        std::map<std::string, std::string> originals;
        for (const auto& [path, expected] : expected_) {
            originals[shown_name(path, isoinfo)] = path;
        }
        const auto by_sector = [](std::uint32_t sector) { return std::to_string(sector).insert(0, 1, '@'); };
        for (const FileExtent& extent : layout.files) {
            originals[by_sector(extent.sector)] = paths_.at(extent.entry);
        }
        const bool primary = reader.shows == Shows::PrimaryListing;
        // A directory below the eighth level (seven names below the root) means a relocation folder.
        const bool relocates = std::any_of(expected_.begin(), expected_.end(), [](const auto& item) {
            return item.second.entry->directory && std::count(item.first.begin(), item.first.end(), '/') >= 7;
        });
        std::set<std::string> root;
        for (const auto& [name, listed] : listing) {
            if (primary) {
                EXPECT_TRUE(std::regex_match(name.substr(name.rfind('/') + 1), stored_name)) << name;
                // Seven names below the root at most, the eighth level's directories six.
                EXPECT_LE(std::count(name.begin(), name.end(), '/'), listed.directory ? 6 : 7)
                    << name << " lies below the eighth level";
                root.insert(name.find('/') == std::string::npos ? name : "");
                if (listed.directory || listed.size == 0) {
                    continue;
                }
            }
            const auto original = originals.find(primary ? by_sector(listed.sector) : name);
            ASSERT_NE(original, originals.end()) << reader.name << " shows " << name << ", which was not put in";
            const Expected& expected = expected_.at(original->second);
            EXPECT_EQ(listed.directory, expected.entry->directory) << reader.name << ": " << name;
            EXPECT_EQ(listed.directory ? 0 : listed.size, expected.entry->size) << reader.name << ": " << name;
            EXPECT_EQ(listed.time, shown_time(expected.time, time_format)) << reader.name << ": " << name;
        }
        EXPECT_EQ(listing.size(), expected_.size() + (primary && relocates ? 1 : 0)) << reader.name;
        if (primary && !GetParam().primary_root.empty()) {
            root.erase("");
            EXPECT_EQ(root, GetParam().primary_root);
        }
    }

    test::ScratchDirectory scratch_;
    const fs::path& dir_ = scratch_.path;
    Entry root_;
    std::map<std::string, Expected> expected_;
    std::map<const Entry*, std::string> paths_;
};

TEST_P(DiscLayoutTest, ReadersShowTheFolder)
{
    const DiscCase& c = GetParam();
    DiscLayout layout;
    Refusal refusal;
    const int status = lay_out_disc(root_, c.label, layout, refusal);
    if (c.refusal) {
        ASSERT_EQ(status, -1);
        EXPECT_EQ(refusal.kind, c.refusal->kind);
        EXPECT_EQ(refusal.path, c.refusal->path);
        EXPECT_EQ(refusal.other_path, c.refusal->other_path);
        return;
    }
    ASSERT_EQ(status, 0) << "refused " << refusal.path << " (" << static_cast<int>(refusal.kind) << ")";
    EXPECT_EQ(layout.files.size(), c.extents.value_or(layout.files.size()));

    // Whatever order the entries come in, the same bytes.
    DiscLayout again;
    const Entry mirrored = reversed(root_);
    const std::map<const Entry*, std::string> mirrored_paths = paths_of(mirrored);
    ASSERT_EQ(lay_out_disc(mirrored, c.label, again, refusal), 0);
    const std::vector<std::uint8_t> metadata = whole_metadata(layout);
    EXPECT_TRUE(whole_metadata(again) == metadata);
    // Made in ranges of any size and place (here across records, sectors and extents), the same bytes.
    std::vector<std::uint8_t> in_ranges(metadata.size());
    for (std::size_t at = 0, step = 1; at < in_ranges.size(); at += step, step = step * 7 % 10007) {
        const std::size_t size = std::min(step, in_ranges.size() - at);
        layout.metadata->fill(at, std::span(in_ranges).subspan(at, size));
    }
    EXPECT_TRUE(in_ranges == metadata);
    EXPECT_EQ(again.total_sectors, layout.total_sectors);
    ASSERT_EQ(again.files.size(), layout.files.size());
    for (std::size_t i = 0; i < layout.files.size(); ++i) {
        EXPECT_EQ(mirrored_paths.at(again.files[i].entry), paths_.at(layout.files[i].entry));
        EXPECT_EQ(again.files[i].sector, layout.files[i].sector);
    }
    // No reader here reads the big-endian path tables: each must be its little-endian twin.
    for (const std::size_t descriptor : {16, 17}) {
        const std::uint8_t* d = metadata.data() + descriptor * kDiscSectorSize;
        const auto le = [](const std::uint8_t* p, int n) {
            return n == 2 ? p[0] | p[1] << 8 : p[0] | p[1] << 8 | p[2] << 16 | p[3] << 24;
        };
        const auto be = [](const std::uint8_t* p, int n) {
            return n == 2 ? p[1] | p[0] << 8 : p[3] | p[2] << 8 | p[1] << 16 | p[0] << 24;
        };
        const std::uint8_t* little = metadata.data() + std::size_t(le(d + 140, 4)) * kDiscSectorSize;
        const std::uint8_t* big = metadata.data() + std::size_t(be(d + 148, 4)) * kDiscSectorSize;
        for (int at = 0; at < le(d + 132, 4); at += 8 + little[at] + little[at] % 2) {
            ASSERT_EQ(little[at], big[at]);
            EXPECT_EQ(le(little + at + 2, 4), be(big + at + 2, 4)) << descriptor << " at " << at;
            EXPECT_EQ(le(little + at + 6, 2), be(big + at + 6, 2)) << descriptor << " at " << at;
            EXPECT_TRUE(std::equal(little + at + 8, little + at + 8 + little[at], big + at + 8));
        }
    }
    if (std::uint64_t{layout.total_sectors} * kDiscSectorSize > kReadLimit) {
        return;
    }
    ASSERT_NO_FATAL_FAILURE(write_disc(layout, metadata));
    // Our own reader lists the folder's entries, their sizes and times, and nothing more.
    DiscFault fault;
    bool joliet = false;
    const auto ours = our_listing((dir_ / "disc.iso").string(), DiscNames::JolietWhereThere, fault, joliet);
    EXPECT_EQ(fault.kind, DiscFaultKind::None);
    EXPECT_EQ(ours.size(), expected_.size());
    for (const auto& [path, expected] : expected_) {
        const auto our = ours.find(path);
        ASSERT_NE(our, ours.end()) << path;
        EXPECT_EQ(our->second.directory ? 0 : our->second.size, expected.entry->size) << path;
        EXPECT_EQ(our->second.time, std::to_string(expected.time)) << path;
    }

    std::string missing;
    test::ProcessOptions options;
    options.environment = {{"TZ", "UTC"}, {"LC_ALL", "C.UTF-8"}};
    for (const Reader& reader : test::kReaders) {
        if (!fs::exists(reader.command[0])) {
            missing += " " + reader.command[0];
            continue;
        }
        const fs::path out = dir_ / reader.name;
        fs::create_directory(out);
        const test::ProcessResult result =
            test::run_process(test::reader_command(reader, (dir_ / "disc.iso").string(), out.string()), options);
        const Mount mount{out.string(), reader.shows == Shows::Mounted && result.exit_status == 0};
        if (reader.shows == Shows::Mounted && !mount.mounted) {
            // No FUSE here (no /dev/fuse, or no right to mount): that reader is left out, not failed.
            std::cout << reader.name << " left out: " << result.standard_error;
            continue;
        }
        ASSERT_EQ(result.exit_status, 0) << reader.name << ": " << result.standard_error;
        if (c.beyond_the_bmp && reader.takes_ucs2) {
            // Not checked: it loses what is beyond UCS-2.
        } else if (reader.shows == Shows::Extracted || reader.shows == Shows::Mounted) {
            check_extracted(reader, out);
        } else {
            check_listing(reader, parse_listing(result.standard_output, reader.name.starts_with("isoinfo")), layout);
        }
        if (reader.name == "iso-info" && !c.joliet_volume.empty()) {
            EXPECT_NE(result.standard_output.find("Volume      : " + c.joliet_volume + "\n"), std::string::npos);
        }
    }
    if (fs::exists("/usr/bin/isoinfo")) {
        const std::string iso = (dir_ / "disc.iso").string();
        const auto volume = test::run_process({"/usr/bin/isoinfo", "-i", iso, "-d"}, options);
        EXPECT_NE(volume.standard_output.find("Volume id: " + c.primary_volume), std::string::npos);
        EXPECT_NE(volume.standard_output.find("Joliet with UCS level 3 found"), std::string::npos);
        // Some files' bytes through their primary names.
        const auto listing =
            parse_listing(test::run_process({"/usr/bin/isoinfo", "-i", iso, "-l"}).standard_output, true);
        for (const FileExtent& extent : layout.files) {
            const auto named = std::find_if(listing.begin(), listing.end(), [&extent](const auto& item) {
                return item.second.sector == extent.sector;
            });
            ASSERT_NE(named, listing.end()) << paths_.at(extent.entry);
            const auto bytes = test::run_process({"/usr/bin/isoinfo", "-i", iso, "-x", "/" + named->first});
            EXPECT_TRUE(bytes.standard_output == contents(*extent.entry, paths_.at(extent.entry))) << named->first;
            if (&extent - layout.files.data() == 8) {
                break;
            }
        }
    }
    if (!missing.empty() && !HasFailure()) {
        GTEST_SKIP() << "readers not installed:" << missing;
    }
}

std::vector<Entry> numbered(const std::string& stem, int count, bool directories)
{
    std::vector<Entry> entries;
    for (int i = 0; i < count; ++i) {
        const std::string name = stem + std::to_string(1000 + i) + (directories ? "" : ".txt");
        entries.push_back(directories ? folder(name, {file("inside.bin", static_cast<std::uint64_t>(i))}, kTime - i)
                                      : file(name, static_cast<std::uint64_t>(i % 7) * 300, kTime + i));
    }
    return entries;
}

Entry nested(int levels, Entry leaf)
{
    return levels == 0 ? std::move(leaf)
                       : folder("level " + std::to_string(levels), {nested(levels - 1, std::move(leaf))});
}

Refusal refused(RefusalKind kind, std::string path = {}, std::string other = {})
{
    return {kind, std::move(path), std::move(other)};
}

// A folder whose one bad name is `name`, refused as `kind`.
DiscCase refused_name(std::string test, std::string name, RefusalKind kind)
{
    return {.name = std::move(test),
            .root = folder("f", {file("fine", 1), folder("d", {file(name, 1)})}),
            .refusal = refused(kind, "d/" + name)};
}

// Three folders of 64 UTF-16 units, the middle one CJK, then a file of `last`:
// a path of 195 + `last` units.
Entry long_path(std::size_t last)
{
    const std::string a(64, 'a');
    return folder(a, {folder("日本語" + std::string(61, 'b'), {folder(a, {file(std::string(last, 'c'), 1)})})});
}

// A folder of two names a reader shows as one: the later in byte order is refused.
DiscCase colliding(std::string test, const std::string& a, const std::string& b, RefusalKind kind)
{
    return {.name = std::move(test),
            .root = folder("f", {file(a, 1), file(b, 1)}),
            .refusal = refused(kind, std::max(a, b), std::min(a, b))};
}

DiscCase refused_folder(std::string test, Entry root, Refusal refusal, std::optional<std::string> label = {})
{
    return {.name = std::move(test), .root = std::move(root), .label = std::move(label), .refusal = std::move(refusal)};
}

// A disc's name that Windows could not make, or would make as another
// file (a stream of "a", a device), is never unpacked there.
TEST(WindowsNames, OnlyWhatWindowsHoldsAsItIs)
{
    for (const auto& [name, held] : std::vector<std::pair<std::string, bool>>{{"Setup.exe", true},
                                                                              {"café crème", true},
                                                                              {"com10", true},
                                                                              {"a:b", false},
                                                                              {"a\\b", false},
                                                                              {"what?", false},
                                                                              {"x|y", false},
                                                                              {"notes.", false},
                                                                              {"notes ", false},
                                                                              {"con.txt", false},
                                                                              {"LPT1", false},
                                                                              {"\xff", false}}) {
        EXPECT_EQ(windows_can_hold(name), held) << name;
    }
}

// Every line of Unicode's own NormalizationTest.txt: a string, its NFC and its
// NFD are one name to a reader, so one caseless key.
TEST(CaselessKey, CanonicallyEquivalentStringsOfUnicodesTestsAreOneName)
{
    const test::ProcessResult data =
        test::run_process({"/usr/bin/bzcat", "/usr/share/unicode/NormalizationTest.txt.bz2"});
    ASSERT_EQ(data.exit_status, 0) << "unicode-data is part of the test";
    std::istringstream lines(data.standard_output);
    std::size_t checked = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#' || line[0] == '@') {
            continue;
        }
        std::istringstream fields(line);
        std::vector<std::u16string> columns;
        for (std::string field; columns.size() < 3 && std::getline(fields, field, ';');) {
            std::istringstream points(field);
            std::u16string& units = columns.emplace_back();
            for (std::string hex; points >> hex;) {
                const auto c = static_cast<char32_t>(std::stoul(hex, nullptr, 16));
                units += c < 0x10000 ? std::u16string(1, static_cast<char16_t>(c))
                                     : std::u16string{static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)),
                                                      static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF))};
            }
        }
        EXPECT_EQ(caseless_key(columns[0]), caseless_key(columns[2])) << line;
        EXPECT_EQ(caseless_key(columns[1]), caseless_key(columns[2])) << line;
        ++checked;
    }
    EXPECT_GT(checked, 19000U);
}

std::vector<DiscCase> cases()
{
    const std::uint64_t metadata = 25 * kDiscSectorSize;  // a disc of one file in the root
    return {
        {.name = "driver_disc",
         .root = folder(
             "Modem Drivers",
             {file("autorun.inf", 68), file("setup.exe", 4096), file("Read Me.txt", 2047), file("icon.ico", 766),
              folder("drivers", {folder("win", {folder("x86", {file("modem.inf", 5000), file("modem.sys", 2049)}),
                                                folder("x64", {file("modem.inf", 5001, kTime + 60)})})})}),
         .label = "MODEM_DRIVERS",
         .primary_root = {"AUTORUN.INF;1", "SETUP.EXE;1", "READ_ME.TXT;1", "ICON.ICO;1", "DRIVERS"},
         .primary_volume = "MODEM_DRIVERS",
         .joliet_volume = "MODEM_DRIVERS"},
        {.name = "names_colliding_as_d_characters",
         .root = folder("x", {file("read me.txt", 1), file("read_me.txt", 2), file("read-me.txt", 3),
                              file("long file name.text", 4), file("long_file_names.txt", 5), folder("a.b", {}),
                              file("a_b", 6), file("a b", 7), file(".profile", 8), file("no extension", 9)}),
         .primary_root = {"READ_ME.TXT;1", "READ_M_1.TXT;1", "READ_M_2.TXT;1", "LONG_FIL.TEX;1", "LONG_FIL.TXT;1",
                          "A_B.;1", "A_B_1", "A_B_2.;1", ".PRO;1", "NO_EXTEN.;1"},
         .primary_volume = "X",
         .joliet_volume = "x"},
        {.name = "unicode_names",
         .root = folder("Pilotes été",
                        {file("café crème.txt", 100), file("Ñandú", 200), file("日本語のファイル名.txt", 300),
                         folder("Ελληνικά", {file("Привет мир.doc", 500)}), folder("中文目录", {}),
                         file(std::string(64, 'n'), 1)}),
         .primary_volume = "PILOTES__T_",
         .joliet_volume = "Pilotes été"},
        {.name = "names_beyond_the_bmp",
         .root = folder("emoji", {file("😀 smile.txt", 400), folder("𝄞 music", {file("🎵", 3)}),
                                  file("\xF0\x9F\x98\x80" + std::string(62, 'e'), 2)}),
         .beyond_the_bmp = true},
        {.name = "names_windows_and_unicode_keep_apart",
         .root = folder("w", {file("console", 1), file("COM10", 2), file("lpt0.txt", 3), file("ss", 4), file("ß", 5),
                              file("i", 6), file("İ", 7), file(" lead", 8), file("a.b.c", 9)})},
        {.name = "path_at_the_bound", .root = folder("p", {long_path(61)})},
        {.name = "sizes_around_sectors",
         .root =
             folder("sizes", {file("0", 0), file("1", 1), file("2047", 2047), file("2048", 2048), file("2049", 2049),
                              file("4095", 4095), file("4096", 4096), file("4097", 4097), file("empty too", 0)})},
        {.name = "empty_directories",
         .root = folder(
             "e", {folder("empty", {}, kTime - 100), folder("a", {folder("b", {folder("empty", {}, kTime - 5)})})})},
        {.name = "eight_levels", .root = folder("deep", {nested(7, file("bottom.txt", 10)), file("top.txt", 20)})},
        // Moved twice over into the relocation folder, which a name of the root pushes to DEEPER_1; two moved
        // directories of one name.
        {.name = "seventeen_levels",
         .root = folder("deep", {nested(16, file("bottom.txt", 10)), file("deeper", 1),
                                 folder("a", {nested(7, folder("level 0", {file("a.txt", 2)}))}),
                                 folder("b", {nested(7, folder("level 0", {file("b.txt", 3)}))})}),
         .primary_root = {"LEVEL_16", "DEEPER.;1", "DEEPER_1", "A", "B"}},
        {.name = "thousands_of_files",
         .root = folder("many", {folder("files", numbered("document number ", 2000, false))})},
        {.name = "hundreds_of_directories",
         .root = folder("dirs", numbered("a directory with quite a long name that is ", 300, true))},
        {.name = "empty_folder", .root = folder("日本語", {}), .primary_volume = "CDROM", .joliet_volume = "日本語"},
        {.name = "hard_links",
         .root = folder("links", {linked(file("one", 3000), 7), folder("sub", {linked(file("two", 3000), 7)}),
                                  linked(file("other", 10), 8)}),
         .extents = 2},
        {.name = "times_at_the_edges",
         .root = folder("t", {file("1900", 1, kFirstRecordTime), file("epoch", 1, 0), file("leap day", 1, 951782400),
                              file("2038", 1, 2147483648), file("2155", 1, kLastRecordTime)})},
        {.name = "label_in_cyrillic",
         .root = folder("f", {file("a", 1)}),
         .label = "Драйверы модема",
         .primary_volume = "CDROM",
         .joliet_volume = "Драйверы модема"},
        {.name = "long_folder_name",
         .root = folder("A Driver Disc of Many Words 2.0", {}),
         .primary_volume = "A_DRIVER_DISC_OF_MANY_WORDS_2_0",
         .joliet_volume = "A Driver Disc of"},
        {.name = "folder_name_not_utf8",
         .root = folder("bad\xFF name", {}),
         .primary_volume = "BAD__NAME",
         .joliet_volume = "BAD__NAME"},
        {.name = "folder_name_cut_before_a_pair",
         .root = folder("fifteen letters😀", {}),
         .joliet_volume = "fifteen letters"},
        {.name = "largest_disc", .root = folder("f", {file("big", kMaxSourceLength - metadata)})},
        refused_name("asterisk", "a*b", RefusalKind::ForbiddenCharacter),
        refused_name("colon", "a:b", RefusalKind::ForbiddenCharacter),
        refused_name("semicolon", "a;1", RefusalKind::ForbiddenCharacter),
        refused_name("question_mark", "why?", RefusalKind::ForbiddenCharacter),
        refused_name("backslash", "a\\b", RefusalKind::ForbiddenCharacter),
        refused_name("slash", "a/b", RefusalKind::ForbiddenCharacter),
        refused_name("control", "tab\there", RefusalKind::ForbiddenCharacter),
        refused_name("long_name", std::string(65, 'n'), RefusalKind::NameTooLong),
        refused_name("long_name_beyond_the_bmp", "\xF0\x9F\x98\x80" + std::string(63, 'e'), RefusalKind::NameTooLong),
        refused_name("bad_utf8", "caf\xC3(", RefusalKind::InvalidUtf8),
        refused_name("overlong_utf8", "\xC0\xAF", RefusalKind::InvalidUtf8),
        refused_name("surrogate_in_utf8", "\xED\xA0\x80", RefusalKind::InvalidUtf8),
        refused_name("truncated_utf8", "abc\xE6\x97", RefusalKind::InvalidUtf8),
        refused_name("dot", ".", RefusalKind::ReservedName),
        refused_name("empty_name", "", RefusalKind::ReservedName),
        refused_folder("case_ascii", folder("f", {file("Readme.txt", 1), file("README.TXT", 1)}),
                       refused(RefusalKind::CaseCollision, "Readme.txt", "README.TXT")),
        refused_folder("case_latin", folder("f", {folder("Ärger", {}), file("ärger", 1)}),
                       refused(RefusalKind::CaseCollision, "ärger", "Ärger")),
        refused_folder("case_greek_final_sigma", folder("f", {file("ΟΔΟΣ", 1), file("οδος", 1), file("οδoς", 1)}),
                       refused(RefusalKind::CaseCollision, "οδος", "ΟΔΟΣ")),
        refused_folder("case_cyrillic", folder("f", {folder("d", {file("Ёж", 1), file("ёЖ", 1)})}),
                       refused(RefusalKind::CaseCollision, "d/ёЖ", "d/Ёж")),
        colliding("case_romanian", "Șir.txt", "șir.txt", RefusalKind::CaseCollision),
        colliding("case_caron", "Ǎ", "ǎ", RefusalKind::CaseCollision),
        colliding("case_hooked_b", "Ɓ", "ɓ", RefusalKind::CaseCollision),
        colliding("case_greek_breathing", "Ἀ", "ἀ", RefusalKind::CaseCollision),
        colliding("case_roman_numeral", "Ⅰ", "ⅰ", RefusalKind::CaseCollision),
        colliding("case_circled", "Ⓐ", "ⓐ", RefusalKind::CaseCollision),
        colliding("case_georgian_mtavruli", "Ა", "ა", RefusalKind::CaseCollision),
        colliding("case_georgian_asomtavruli", "Ⴀ", "ⴀ", RefusalKind::CaseCollision),
        colliding("case_glagolitic", "Ⰰ", "ⰰ", RefusalKind::CaseCollision),
        colliding("case_deseret", "𐐀", "𐐨", RefusalKind::CaseCollision),
        colliding("case_capital_sharp_s", "ẞ", "ß", RefusalKind::CaseCollision),
        colliding("two_ways_acute", "\u00E9", "e\u0301", RefusalKind::SameNameTwoWays),
        colliding("two_ways_and_case", "\u00C9", "e\u0301", RefusalKind::SameNameTwoWays),
        colliding("two_ways_marks_ordered", "a\u0323\u0307", "a\u0307\u0323", RefusalKind::SameNameTwoWays),
        colliding("two_ways_hangul", "\uD55C", "\u1112\u1161\u11AB", RefusalKind::SameNameTwoWays),
        colliding("two_ways_ohm", "\u2126", "\u03A9", RefusalKind::SameNameTwoWays),
        colliding("two_ways_nested", "\u1E69", "s\u0307\u0323", RefusalKind::SameNameTwoWays),
        refused_name("windows_less_than", "a<b", RefusalKind::WindowsCharacter),
        refused_name("windows_greater_than", "a>b", RefusalKind::WindowsCharacter),
        refused_name("windows_quote", "say \"hi\"", RefusalKind::WindowsCharacter),
        refused_name("windows_bar", "a|b", RefusalKind::WindowsCharacter),
        refused_name("trailing_dot", "notes.", RefusalKind::TrailingDotOrSpace),
        refused_name("trailing_space", "notes ", RefusalKind::TrailingDotOrSpace),
        refused_name("device_con", "CON", RefusalKind::DeviceName),
        refused_name("device_with_extensions", "Nul.tar.gz", RefusalKind::DeviceName),
        refused_name("device_superscript", "com\u00B3.txt", RefusalKind::DeviceName),
        refused_name("device_spaced", "lpt9 .log", RefusalKind::DeviceName),
        refused_folder("path_past_the_bound", folder("p", {long_path(62)}),
                       refused(RefusalKind::PathTooLong, std::string(64, 'a') + "/日本語" + std::string(61, 'b') + "/" +
                                                             std::string(64, 'a') + "/" + std::string(62, 'c'))),
        refused_folder("file_too_large", folder("f", {file("huge", kMaxSourceLength + 1)}),
                       refused(RefusalKind::TooLarge, "huge")),
        refused_folder("disc_too_large", folder("f", {file("big", kMaxSourceLength - metadata + 1)}),
                       refused(RefusalKind::TooLarge)),
        refused_folder("before_1900", folder("f", {folder("d", {file("old", 1, kFirstRecordTime - 1)})}),
                       refused(RefusalKind::DateOutOfRange, "d/old")),
        refused_folder("after_2155", folder("f", {file("new", 1, kLastRecordTime + 1)}),
                       refused(RefusalKind::DateOutOfRange, "new")),
        refused_folder("empty_directory_after_2155", folder("f", {folder("d", {}, kLastRecordTime + 1)}),
                       refused(RefusalKind::DateOutOfRange, "d")),
        {.name = "most_directories", .root = folder("f", {}), .added_directories = 65534},
        {.name = "too_many_directories",
         .root = folder("f", {}),
         .refusal = refused(RefusalKind::TooManyDirectories),
         .added_directories = 65535},
        // 65,535 in the Joliet tree, one more in the primary one: its relocation folder.
        {.name = "too_many_directories_with_deeper",
         .root = folder("f", {nested(8, file("bottom", 1))}),
         .refusal = refused(RefusalKind::TooManyDirectories),
         .added_directories = 65526},
        refused_folder("label_too_long", folder("f", {}), refused(RefusalKind::LabelTooLong), std::string(17, 'L')),
        refused_folder("label_with_control", folder("f", {}), refused(RefusalKind::InvalidLabel), "a\nb"),
        refused_folder("label_not_utf8", folder("f", {}), refused(RefusalKind::InvalidLabel), "\xFF"),
    };
}

// What a lister shows, as "d|- size", the time appended when it is not ours:
// isoinfo's ";1" dropped; isoinfo shows a record's time as written, `offset`
// from UTC, which the others apply.
std::map<std::string, std::string> listed_by(const test::Lister& lister, const std::string& text,
                                             const std::map<std::string, Listed>& ours, std::int64_t offset)
{
    static const std::regex seven_zip(R"(^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d) ([D.])\S+ +(\d*) +\d*  (.*)$)");
    static const std::regex tar(R"(^([d-])\S+ +\d+ \S+ +\S+ +(\d+) (\w{3} [ \d]\d (?:[ \d]\d:\d\d| \d{4})) (.*)$)");
    std::map<std::string, Listed> shown;
    if (lister.lists == test::Lists::Isoinfo) {
        for (auto& [name, listed] : parse_listing(text, true)) {
            std::string plain = std::regex_replace(name, std::regex(";\\d+$"), "");
            shown[!listed.directory && plain.ends_with('.') ? plain.substr(0, plain.size() - 1) : plain] = listed;
        }
    }
    std::istringstream lines(text);
    std::smatch m;
    for (std::string line; lister.lists != test::Lists::Isoinfo && std::getline(lines, line);) {
        if (lister.lists == test::Lists::SevenZip && std::regex_match(line, m, seven_zip) &&
            !m[4].str().starts_with("[BOOT]")) {
            shown[m[4]] = {m[2] == "D", m[3].str().empty() ? 0 : std::stoull(m[3]), 0, m[1]};
        } else if (lister.lists == test::Lists::Tar && std::regex_match(line, m, tar) && m[4] != ".") {
            shown[m[4]] = {m[1] == "d", std::stoull(m[2]), 0, m[3]};
        }
    }
    std::map<std::string, std::string> described;
    for (const auto& [name, listed] : shown) {
        const auto our = ours.find(name);
        const std::int64_t time = (our == ours.end() ? 0 : std::stoll(our->second.time)) +
                                  (lister.lists == test::Lists::Isoinfo ? offset : 0);
        const char* format = lister.lists == test::Lists::Isoinfo         ? "%b %e %Y"
                             : lister.lists == test::Lists::SevenZip      ? "%Y-%m-%d %H:%M:%S"
                             : listed.time.find(':') != std::string::npos ? "%b %e %H:%M"
                                                                          : "%b %e  %Y";
        described[name] = (listed.directory ? "d " : "- ") + std::to_string(listed.size) +
                          (listed.time == shown_time(time, format) ? "" : " shown at " + listed.time);
    }
    return described;
}

// Bytes to set in a small disc of quarnel's layout: at `at` in the descriptor,
// or in the record at `path` ("" the root's in the descriptor; "@last" the
// last record of a folder's first sector), `size` bytes (1, 2 little-endian,
// 8 both-endian) of `value`, or of the sector a token names.
enum Token : std::uint32_t { kRoot = 0xFFFFFF00, kJolietRoot, kLastSector, kPastVolume };
enum Where { P, J, D };  // a primary record, a Joliet record, the primary descriptor
struct Patch {
    Where where;
    std::string path;
    std::size_t at, size;
    std::uint32_t value;
};

std::vector<std::uint8_t> patched_disc(const std::vector<Patch>& patches)
{
    std::vector<Entry> many;
    for (int i = 0; i < 60; ++i) {
        many.push_back(file("file " + std::to_string(100 + i), 1));
    }
    const Entry root = folder(
        "d", {folder("a", {file("x.txt", 10)}), file("big.bin", 5000), file("cat.bin", 100), folder("many", many)});
    DiscLayout layout;
    Refusal refusal;
    EXPECT_EQ(lay_out_disc(root, std::nullopt, layout, refusal), 0);
    std::vector<std::uint8_t> d(std::uint64_t{layout.total_sectors} * kDiscSectorSize);
    layout.metadata->fill(0, std::span(d).first(layout.metadata_size));
    const auto root_at = [](bool joliet) { return (joliet ? 17U : 16U) * kDiscSectorSize + 156; };
    const auto extent = [&d](std::size_t record) { return load<ul32>(d, record + 2); };
    const std::uint32_t tokens[] = {extent(root_at(false)), extent(root_at(true)), load<ul32>(d, 16 * 2048 + 80) - 1,
                                    load<ul32>(d, 16 * 2048 + 80) + 1};
    for (const Patch& p : patches) {
        std::size_t at = p.where == D ? 16U * kDiscSectorSize : root_at(p.where == J);
        std::istringstream names(p.path);
        for (std::string name; p.where != D && std::getline(names, name, '/');) {
            std::string id;
            for (const char c : name) {
                id += p.where == J ? std::string{'\0', c} : std::string{c};
            }
            std::size_t r = extent(at) * std::size_t{kDiscSectorSize};
            while (d[r + d[r]] != 0 &&
                   (name == "@last" ? (r + d[r]) % kDiscSectorSize != 0
                                    : std::string_view(reinterpret_cast<const char*>(&d[r + 33]), d[r + 32]) != id)) {
                r += d[r];
            }
            at = r;
        }
        const std::uint32_t value = p.value >= kRoot ? tokens[p.value - kRoot] : p.value;
        if (p.size == 8) {
            store<ul32>(d, at + p.at, value);
            store<ub32>(d, at + p.at + 4, value);
        } else if (p.size == 2) {
            store<ul16>(d, at + p.at, static_cast<std::uint16_t>(value));
        } else {
            d[at + p.at] = static_cast<std::uint8_t>(value);
        }
    }
    return d;
}

struct HostileCase {
    std::string name;
    std::vector<Patch> patches;
    DiscFaultKind fault;
    bool joliet = false;
    std::string directory{};
};

// Record fields: 2 extent, 10 data length, 25 flags, 26 file unit size, 32 and 33 the identifier.
const HostileCase kHostileCases[] = {
    {"loop", {{P, "A", 2, 8, kRoot}}, DiscFaultKind::DirectoryLoop},
    {"trees_share_a_root", {{J, "", 2, 8, kRoot}}, DiscFaultKind::SharedDirectory, true},
    {"outside_the_volume", {{P, "BIG.BIN;1", 2, 8, kLastSector}}, DiscFaultKind::ExtentOutsideVolume},
    {"file_over_descriptors", {{P, "BIG.BIN;1", 2, 8, 17}}, DiscFaultKind::FileOverDescriptors},
    {"file_over_a_folder", {{P, "BIG.BIN;1", 2, 8, kRoot}}, DiscFaultKind::FileOverDirectory},
    {"file_over_the_other_tree", {{P, "BIG.BIN;1", 2, 8, kJolietRoot}}, DiscFaultKind::FileOverDirectory, true},
    {"interleaved", {{J, "cat.bin", 26, 1, 1}}, DiscFaultKind::Interleaved, true},
    {"multi_extent_of_two_names", {{P, "BIG.BIN;1", 25, 1, 0x80}}, DiscFaultKind::BrokenMultiExtent},
    {"multi_extent_of_part_sectors",
     {{P, "BIG.BIN;1", 25, 1, 0x80}, {P, "CAT.BIN;1", 35, 1, 'G'}, {P, "CAG.BIN;1", 33, 2, 'I' << 8 | 'B'}},
     DiscFaultKind::BrokenMultiExtent},
    {"record_across_a_sector", {{P, "MANY/@last", 0, 1, 255}}, DiscFaultKind::RecordCrossesSector, false, "MANY"},
    {"record_past_its_folder", {{P, "A", 10, 8, 60}}, DiscFaultKind::RecordPastDirectory, false, "A"},
    {"record_short_for_its_name", {{P, "CAT.BIN;1", 32, 1, 200}}, DiscFaultKind::RecordTooShort},
    {"slash", {{P, "CAT.BIN;1", 36, 1, '/'}}, DiscFaultKind::ForbiddenCharacter},
    {"joliet_nul", {{J, "a/x.txt", 34, 1, 0}}, DiscFaultKind::ForbiddenCharacter, true, "a"},
    {"dot", {{P, "A", 33, 1, '.'}}, DiscFaultKind::ReservedName},
    {"parent_past_its_place", {{P, "A", 33, 1, 1}}, DiscFaultKind::ReservedName},
    {"version_alone", {{P, "CAT.BIN;1", 32, 1, 2}, {P, "CA", 33, 2, '1' << 8 | ';'}}, DiscFaultKind::ReservedName},
    {"joliet_odd", {{J, "cat.bin", 32, 1, 13}}, DiscFaultKind::OddJolietName, true},
    {"joliet_lone_surrogate", {{J, "cat.bin", 33, 1, 0xD8}}, DiscFaultKind::UnpairedSurrogate, true},
    {"block_size", {{D, "", 128, 2, 512}}, DiscFaultKind::BadBlockSize},
    {"no_primary", {{D, "", 0, 1, 3}}, DiscFaultKind::NoPrimaryDescriptor},
    {"volume_beyond_the_disc", {{D, "", 80, 8, kPastVolume}}, DiscFaultKind::VolumeBeyondDisc},
    {"first_fault_named", {{J, "cat.bin", 32, 1, 13}, {P, "CAT.BIN;1", 26, 1, 1}}, DiscFaultKind::Interleaved},
    {"multi_extent_read_whole",
     {{P, "BIG.BIN;1", 25, 1, 0x80},
      {P, "BIG.BIN;1", 10, 8, 3 * kDiscSectorSize},
      {P, "CAT.BIN;1", 35, 1, 'G'},
      {P, "CAG.BIN;1", 33, 2, 'I' << 8 | 'B'}},
     DiscFaultKind::None},
};

class HostileDiscTest : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileDiscTest, FirstFaultIsNamed)
{
    const std::vector<std::uint8_t> disc = patched_disc(GetParam().patches);
    MemoryImageSource source(disc);
    DiscListing listing;
    DiscFault fault;
    EXPECT_EQ(read_disc_listing(source, 0, disc.size(), listing, fault, DiscNames::Primary),
              GetParam().fault == DiscFaultKind::None ? 0 : -1);
    EXPECT_EQ(fault.kind, GetParam().fault);
    EXPECT_EQ(fault.joliet, GetParam().joliet);
    EXPECT_EQ(fault.directory, GetParam().directory);
    if (GetParam().fault == DiscFaultKind::None) {  // one file of two extents
        ASSERT_GE(listing.items.size(), 3U);
        EXPECT_EQ(listing.path(2) + " " + std::to_string(listing.items[2].size), "BIG.BIN 6244");
    }
}

INSTANTIATE_TEST_SUITE_P(Patched, HostileDiscTest, testing::ValuesIn(kHostileCases),
                         [](const testing::TestParamInfo<HostileCase>& info) { return info.param.name; });

struct ListedDisc {
    std::string name;
    std::string make;               // the writer in /usr/bin and its words, "@iso" the disc, "@src" the folder
    std::string installed{};        // or the disc, installed
    bool rock_ridge_names = false;  // 7z and bsdtar show Rock Ridge names, not ours
};

class DiscReaderTest : public testing::TestWithParam<ListedDisc> {};

// Discs of other writers listed by our reader as by readers we did not write
// (quarnel's own layout: DiscLayoutTest); genisoimage runs in Tokyo, so that
// its records say 9 hours ahead of UTC, xorriso writes UTC wherever it runs.
TEST_P(DiscReaderTest, ListsAsOtherReadersDo)
{
    const ListedDisc& disc = GetParam();
    const test::ScratchDirectory scratch;
    const fs::path& dir = scratch.path;
    fs::create_directories(dir / "src/Sub folder/Deeper");
    test::write_file((dir / "src/readme.txt").string(), test::Bytes(3000, 'r'));
    test::write_file((dir / "src/Sub folder/A long name of data.bin").string(), test::random_bytes(70000, 3));
    test::write_file((dir / "src/Sub folder/Deeper/empty").string(), {});
    fs::last_write_time(dir / "src/readme.txt", fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));
    const std::string iso = disc.installed.empty() ? (dir / "disc.iso").string() : disc.installed;
    if (!fs::exists(disc.installed.empty() ? "/usr/bin/" + disc.make.substr(0, disc.make.find(' ')) : iso)) {
        GTEST_SKIP() << disc.name << ": not installed";
    }
    const bool tokyo = disc.make.starts_with("genisoimage");
    if (!disc.make.empty()) {
        std::vector<std::string> make;
        std::istringstream words("/usr/bin/" + disc.make);
        for (std::string word; words >> word;) {
            make.push_back(word == "@iso" ? iso : word == "@src" ? (dir / "src").string() : word);
        }
        test::ProcessOptions options;
        options.environment = {{"TZ", tokyo ? "Asia/Tokyo" : "UTC"}};
        ASSERT_EQ(test::run_process(make, options).exit_status, 0) << disc.name;
    }
    DiscFault fault;
    bool joliet = false;
    bool primary_tree = false;
    const std::map<std::string, Listed> ours[] = {our_listing(iso, DiscNames::JolietWhereThere, fault, joliet),
                                                  our_listing(iso, DiscNames::Primary, fault, primary_tree)};
    ASSERT_EQ(fault.kind, DiscFaultKind::None) << disc.name << ": " << static_cast<int>(fault.kind);
    std::string missing;
    for (const test::Lister& lister : test::kListers) {
        if (!fs::exists(lister.command[0])) {
            missing += " " + lister.name;
        }
        if (!fs::exists(lister.command[0]) || (lister.joliet && !joliet) ||
            (!lister.primary && disc.rock_ridge_names)) {
            continue;
        }
        test::ProcessOptions options;
        options.environment = {{"TZ", "UTC"}};
        const test::ProcessResult run = test::run_process(
            test::reader_command({lister.name, test::Shows::Extracted, lister.command}, iso, ""), options);
        ASSERT_EQ(run.exit_status, 0) << lister.name << " on " << disc.name;
        std::map<std::string, std::string> expected;
        for (const auto& [name, listed] : ours[lister.primary ? 1 : 0]) {
            const bool no_size = listed.directory && lister.lists == test::Lists::SevenZip;
            expected[name] = (listed.directory ? "d " : "- ") + std::to_string(no_size ? 0 : listed.size);
        }
        EXPECT_EQ(listed_by(lister, run.standard_output, ours[lister.primary ? 1 : 0], tokyo ? 9 * 3600 : 0), expected)
            << lister.name << " on " << disc.name;
    }
    if (!missing.empty()) {
        GTEST_SKIP() << "listers not installed:" << missing;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Writers, DiscReaderTest,
    testing::Values(ListedDisc{"genisoimage_joliet", "genisoimage -quiet -J -o @iso @src"},
                    ListedDisc{"genisoimage_rock_ridge_joliet", "genisoimage -quiet -R -J -o @iso @src"},
                    ListedDisc{"genisoimage_plain", "genisoimage -quiet -o @iso @src"},
                    ListedDisc{"xorriso_plain", "xorriso -outdev @iso -rockridge off -joliet off -map @src /"},
                    ListedDisc{"xorriso_joliet", "xorriso -outdev @iso -rockridge off -joliet on -map @src /"},
                    ListedDisc{"xorriso_rock_ridge", "xorriso -outdev @iso -joliet off -map @src /", "", true},
                    ListedDisc{"xorriso_rock_ridge_joliet", "xorriso -outdev @iso -joliet on -map @src /"},
                    ListedDisc{"grub_rescue", "", "/usr/lib/grub-rescue/grub-rescue-cdrom.iso", true},
                    ListedDisc{"ipxe", "", "/usr/lib/ipxe/ipxe.iso"}),
    [](const testing::TestParamInfo<ListedDisc>& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(Folders, DiscLayoutTest, testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<DiscCase>& info) { return info.param.name; });

}  // namespace
}  // namespace quarnel::disc
