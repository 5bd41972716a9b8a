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
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "disc/disc_layout.h"
#include "image/header_area.h"
#include "support/process.h"

namespace quarnel::disc {
namespace {

namespace fs = std::filesystem;
using test::run_process;

constexpr std::int64_t kTime = 1765190096;          // 2025-12-08T10:34:56Z
constexpr std::int64_t kFirstTime = -2208988800;    // 1900-01-01T00:00:00Z
constexpr std::int64_t kLastTime = 5869584000 - 1;  // 2155-12-31T23:59:59Z
constexpr std::uint64_t kReadLimit = 64 << 20;      // larger discs are laid out, not written

Entry file(std::string name, std::uint64_t size, std::int64_t modified = kTime)
{
    return {std::move(name), false, size, modified, std::nullopt, {}};
}

Entry folder(std::string name, std::vector<Entry> children, std::int64_t modified = kTime)
{
    return {std::move(name), true, 0, modified, std::nullopt, std::move(children)};
}

Entry linked(Entry entry, std::uint64_t inode)
{
    entry.identity = FileIdentity{1, inode};
    return entry;
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
    // Names beyond the BMP, which libcdio takes for UCS-2 and so loses their directory.
    bool beyond_the_bmp = false;
};

// What a file holds on the test's discs: bytes made from its path, or from
// its identity for a linked file, so that every linked name holds the same.
std::string contents(const Entry& entry, const std::string& path)
{
    std::uint32_t seed = 2166136261U;
    const std::string key = entry.identity ? std::to_string(entry.identity->inode) : path;
    for (const char c : key) {
        seed = (seed ^ static_cast<unsigned char>(c)) * 16777619U;
    }
    std::string bytes(entry.size, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        seed = seed * 1103515245U + 12345U;
        bytes[i] = static_cast<char>(seed >> 16);
    }
    return bytes;
}

struct Expected {
    const Entry* entry;
    std::int64_t time;  // a directory's: the newest of what it holds
};

std::int64_t expect(const Entry& entry, const std::string& path, std::map<std::string, Expected>& out)
{
    std::int64_t newest = entry.modified;
    bool first = true;
    for (const Entry& child : entry.children) {
        const std::int64_t time = expect(child, path.empty() ? child.name : path + "/" + child.name, out);
        newest = first ? time : std::max(newest, time);
        first = false;
    }
    if (!path.empty()) {
        out[path] = {&entry, newest};
    }
    return newest;
}

// The same folder as the scan of another machine might give it: each
// directory's entries in reverse.
Entry reversed(Entry entry)
{
    std::reverse(entry.children.begin(), entry.children.end());
    for (Entry& child : entry.children) {
        child = reversed(std::move(child));
    }
    return entry;
}

struct Listed {
    bool directory = false;
    std::uint64_t size = 0;
    std::uint32_t sector = 0;
    std::string time;  // as the reader shows it
};

// How `isoinfo -l` and `iso-info -l` show a time.
constexpr const char* kIsoinfoTime = "%b %e %Y";
constexpr const char* kIsoInfoTime = "%b %d %Y %H:%M:%S";

using Listing = std::map<std::string, Listed>;

// `isoinfo -l` and `iso-info -l`: a heading for each directory, then a line an entry.
Listing parse_listing(const std::string& text, bool iso_info)
{
    static const std::regex isoinfo_heading("^Directory listing of /(.*)$");
    static const std::regex isoinfo_line(
        R"(^([d-])\S+\s+\S+\s+\S+\s+\S+\s+(\d+) (\S+ +\d+ \d+) \[ *(\d+) \d+\]  (.*) $)");
    static const std::regex iso_info_heading("^/(.*):$");
    static const std::regex iso_info_line(R"(^  ([d-]) \[LSN +(\d+)\] +(\d+) (\S+ \d+ \d+ [\d:]+)  (.*)$)");
    Listing listing;
    std::string directory;
    std::istringstream lines(text);
    std::string line;
    std::smatch m;
    while (std::getline(lines, line)) {
        if (std::regex_match(line, m, iso_info ? iso_info_heading : isoinfo_heading)) {
            directory = m[1];
        } else if (!iso_info && std::regex_match(line, m, isoinfo_line)) {
            if (m[5] != "." && m[5] != "..") {
                listing[directory + m[5].str()] = {m[1] == "d", std::stoull(m[2]),
                                                   static_cast<std::uint32_t>(std::stoul(m[4])), m[3]};
            }
        } else if (iso_info && std::regex_match(line, m, iso_info_line)) {
            if (m[5] != "." && m[5] != "..") {
                listing[directory + m[5].str()] = {m[1] == "d", std::stoull(m[3]),
                                                   static_cast<std::uint32_t>(std::stoul(m[2])), m[4]};
            }
        }
    }
    return listing;
}

// The names as `isoinfo -J` shows them: ISO 8859-1, '_' for what it cannot.
std::string as_latin1_shown(const std::string& utf8)
{
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        const unsigned value =
            length == 2 ? ((lead & 0x1F) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3F) : lead;
        if (length == 1) {
            out += static_cast<char>(lead);
        } else if (length == 2 && value < 0x100) {
            out += static_cast<char>(value);
        } else {
            out += length == 4 ? "__" : "_";  // a pair of UTF-16 units beyond the BMP
        }
        i += length;
    }
    return out;
}

// The names as `iso-info` shows them: libcdio cuts each name's UTF-8 to the
// length of its UCS-2, so that a name of CJK characters loses its end.
std::string as_libcdio_shown(const std::string& utf8)
{
    std::string out;
    std::size_t start = 0;
    while (start <= utf8.size()) {
        const std::size_t end = std::min(utf8.find('/', start), utf8.size());
        const std::string name = utf8.substr(start, end - start);
        std::size_t units = 0;
        for (const char c : name) {
            const auto byte = static_cast<unsigned char>(c);
            units += (byte & 0xC0) == 0x80 ? 0 : byte >= 0xF0 ? 2 : 1;
        }
        out += name.substr(0, 2 * units) + (end < utf8.size() ? "/" : "");
        start = end + 1;
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

std::string slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const test::ProcessOptions& reader_options()
{
    static const test::ProcessOptions options = [] {
        test::ProcessOptions o;
        o.environment = {{"TZ", "UTC"}, {"LC_ALL", "C.UTF-8"}};
        return o;
    }();
    return options;
}

class DiscLayoutTest : public testing::TestWithParam<DiscCase> {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "quarnel-disc-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        expect(GetParam().root, {}, expected_);
    }
    void TearDown() override
    {
        if (std::getenv("QUARNEL_KEEP_DISC") == nullptr) {
            fs::remove_all(dir_);
        }
    }

    void write_disc(const DiscLayout& layout)
    {
        std::ofstream out(dir_ / "disc.iso", std::ios::binary);
        out.write(reinterpret_cast<const char*>(layout.metadata.data()),
                  static_cast<std::streamsize>(layout.metadata.size()));
        std::uint64_t at = layout.metadata.size();
        for (const FileExtent& extent : layout.files) {
            ASSERT_EQ(std::uint64_t{extent.sector} * kDiscSectorSize, at) << extent.path;
            const std::string bytes = contents(*extent.entry, extent.path);
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            const std::string padding(sectors_for(bytes.size()) * kDiscSectorSize - bytes.size(), '\0');
            out.write(padding.data(), static_cast<std::streamsize>(padding.size()));
            at += bytes.size() + padding.size();
        }
        ASSERT_EQ(at, std::uint64_t{layout.total_sectors} * kDiscSectorSize);
        ASSERT_TRUE(out.flush());
    }

    bool have(const std::string& program)
    {
        if (fs::exists(program)) {
            return true;
        }
        missing_ += " " + program;
        return false;
    }

    // An extracting reader's tree must be the folder: names, bytes, times.
    void check_extracted(const std::string& reader, const std::vector<std::string>& command)
    {
        const fs::path out = dir_ / reader;
        fs::create_directory(out);
        const test::ProcessResult result = run_process(command, reader_options());
        ASSERT_EQ(result.exit_status, 0) << reader << ": " << result.standard_output << result.standard_error;
        std::set<std::string> found;
        for (const fs::directory_entry& item : fs::recursive_directory_iterator(out)) {
            const std::string path = fs::relative(item.path(), out).string();
            found.insert(path);
            const auto expected = expected_.find(path);
            if (expected == expected_.end()) {
                ADD_FAILURE() << reader << " shows " << path << ", which was not put in";
                continue;
            }
            const Entry& entry = *expected->second.entry;
            EXPECT_EQ(item.is_directory(), entry.directory) << reader << ": " << path;
            struct stat st {};
            ASSERT_EQ(::lstat(item.path().c_str(), &st), 0);
            if (!entry.directory) {
                EXPECT_TRUE(slurp(item.path()) == contents(entry, path)) << reader << ": bytes of " << path;
                // Below 32 bits ext4 keeps no time, and holds the earliest it can.
                if (expected->second.time >= INT32_MIN) {
                    EXPECT_EQ(st.st_mtime, expected->second.time) << reader << ": time of " << path;
                }
            }
        }
        for (const auto& [path, expected] : expected_) {
            EXPECT_TRUE(found.contains(path)) << reader << " lacks " << path;
        }
    }

    // A listing of the Joliet tree must hold the folder's names (as the
    // reader can show them), sizes and, where shown, times.
    void check_joliet_listing(const std::string& reader, const Listing& listing,
                              std::string (*shown_as)(const std::string&), const char* time_format)
    {
        std::map<std::string, std::string> shown;
        for (const auto& [path, expected] : expected_) {
            shown[shown_as(path)] = path;
        }
        EXPECT_EQ(listing.size(), expected_.size()) << reader;
        for (const auto& [name, listed] : listing) {
            const auto original = shown.find(name);
            if (original == shown.end()) {
                ADD_FAILURE() << reader << " shows " << name << ", which was not put in";
                continue;
            }
            const Expected& expected = expected_.at(original->second);
            EXPECT_EQ(listed.directory, expected.entry->directory) << reader << ": " << name;
            if (!listed.directory) {
                EXPECT_EQ(listed.size, expected.entry->size) << reader << ": " << name;
            }
            EXPECT_EQ(listed.time, shown_time(expected.time, time_format)) << reader << ": " << name;
        }
    }

    // The primary tree: unique 8.3 d-character names, and the same files as
    // the Joliet tree, found through their extents.
    void check_primary_listing(const std::string& reader, const Listing& listing, const DiscLayout& layout,
                               bool shown_as_stored, const char* time_format)
    {
        static const std::regex stored_name("^([A-Z0-9_]{1,8}|[A-Z0-9_]{0,8}\\.[A-Z0-9_]{0,3};1)$");
        std::map<std::uint32_t, const FileExtent*> by_sector;
        for (const FileExtent& extent : layout.files) {
            by_sector[extent.sector] = &extent;
        }
        EXPECT_EQ(listing.size(), expected_.size()) << reader;
        for (const auto& [path, listed] : listing) {
            const std::string name = path.substr(path.rfind('/') + 1);
            if (shown_as_stored) {
                EXPECT_TRUE(std::regex_match(name, stored_name)) << reader << ": " << path;
            }
            if (!listed.directory && listed.size > 0) {
                const auto extent = by_sector.find(listed.sector);
                ASSERT_NE(extent, by_sector.end()) << reader << ": " << path;
                EXPECT_EQ(listed.size, extent->second->length) << reader << ": " << path;
                EXPECT_EQ(listed.time, shown_time(expected_.at(extent->second->path).time, time_format))
                    << reader << ": " << path;
            }
        }
        if (shown_as_stored && !GetParam().primary_root.empty()) {
            std::set<std::string> root;
            for (const auto& [path, listed] : listing) {
                if (path.find('/') == std::string::npos) {
                    root.insert(path);
                }
            }
            EXPECT_EQ(root, GetParam().primary_root) << reader;
        }
    }

    fs::path dir_;
    std::map<std::string, Expected> expected_;
    std::string missing_;
};

TEST_P(DiscLayoutTest, ReadersShowTheFolder)
{
    const DiscCase& c = GetParam();
    DiscLayout layout;
    Refusal refusal;
    const int status = lay_out_disc(c.root, c.label, layout, refusal);
    if (c.refusal) {
        ASSERT_EQ(status, -1);
        EXPECT_EQ(refusal.kind, c.refusal->kind);
        EXPECT_EQ(refusal.path, c.refusal->path);
        EXPECT_EQ(refusal.other_path, c.refusal->other_path);
        return;
    }
    ASSERT_EQ(status, 0) << "refused " << refusal.path << " (" << static_cast<int>(refusal.kind) << ")";
    ASSERT_LE(std::uint64_t{layout.total_sectors} * kDiscSectorSize, kMaxSourceLength);
    if (c.extents) {
        EXPECT_EQ(layout.files.size(), *c.extents);
    }

    // Whatever order the entries come in, the same bytes.
    DiscLayout again;
    ASSERT_EQ(lay_out_disc(reversed(c.root), c.label, again, refusal), 0);
    EXPECT_TRUE(again.metadata == layout.metadata);
    EXPECT_EQ(again.total_sectors, layout.total_sectors);
    ASSERT_EQ(again.files.size(), layout.files.size());
    for (std::size_t i = 0; i < layout.files.size(); ++i) {
        EXPECT_EQ(again.files[i].path, layout.files[i].path);
        EXPECT_EQ(again.files[i].sector, layout.files[i].sector);
    }
    if (std::uint64_t{layout.total_sectors} * kDiscSectorSize > kReadLimit) {
        return;
    }
    ASSERT_NO_FATAL_FAILURE(write_disc(layout));
    const std::string iso = (dir_ / "disc.iso").string();

    if (have("/usr/bin/7z")) {
        check_extracted("7z", {"/usr/bin/7z", "x", "-y", "-o" + (dir_ / "7z").string(), iso});
    }
    if (have("/usr/bin/bsdtar")) {
        check_extracted("bsdtar", {"/usr/bin/bsdtar", "-xf", iso, "-C", (dir_ / "bsdtar").string()});
    }
    if (have("/usr/bin/xorriso")) {
        check_extracted("xorriso", {"/usr/bin/xorriso", "-osirrox", "on", "-indev", iso, "-extract", "/",
                                    (dir_ / "xorriso").string()});
    }
    if (have("/usr/bin/isoinfo")) {
        const auto joliet =
            run_process({"/usr/bin/isoinfo", "-i", iso, "-l", "-J", "-j", "iso8859-1"}, reader_options());
        ASSERT_EQ(joliet.exit_status, 0) << joliet.standard_error;
        check_joliet_listing("isoinfo -J", parse_listing(joliet.standard_output, false), as_latin1_shown, kIsoinfoTime);
        const auto primary = run_process({"/usr/bin/isoinfo", "-i", iso, "-l"}, reader_options());
        ASSERT_EQ(primary.exit_status, 0) << primary.standard_error;
        const Listing listing = parse_listing(primary.standard_output, false);
        check_primary_listing("isoinfo", listing, layout, true, kIsoinfoTime);
        // A few files' bytes through the primary names.
        std::map<std::uint32_t, const FileExtent*> by_sector;
        for (const FileExtent& extent : layout.files) {
            by_sector[extent.sector] = &extent;
        }
        int extracted = 0;
        for (const auto& [path, listed] : listing) {
            if (listed.directory || listed.size == 0 || ++extracted > 8) {
                continue;
            }
            const FileExtent& extent = *by_sector.at(listed.sector);
            const auto bytes = run_process({"/usr/bin/isoinfo", "-i", iso, "-x", "/" + path}, reader_options());
            EXPECT_TRUE(bytes.standard_output == contents(*extent.entry, extent.path)) << "isoinfo -x /" << path;
        }
        const auto volume = run_process({"/usr/bin/isoinfo", "-i", iso, "-d"}, reader_options());
        if (!c.primary_volume.empty()) {
            EXPECT_NE(volume.standard_output.find("Volume id: " + c.primary_volume + "\n"), std::string::npos)
                << volume.standard_output;
        }
        EXPECT_NE(volume.standard_output.find("Joliet with UCS level 3 found"), std::string::npos)
            << volume.standard_output;
    }
    if (have("/usr/bin/iso-info")) {
        const auto joliet = run_process({"/usr/bin/iso-info", "-i", iso, "-l", "--no-header"}, reader_options());
        ASSERT_EQ(joliet.exit_status, 0) << joliet.standard_error;
        if (!c.beyond_the_bmp) {
            check_joliet_listing("iso-info", parse_listing(joliet.standard_output, true), as_libcdio_shown,
                                 kIsoInfoTime);
        }
        if (!c.joliet_volume.empty()) {
            EXPECT_NE(joliet.standard_output.find("Volume      : " + c.joliet_volume + "\n"), std::string::npos)
                << joliet.standard_output;
        }
        const auto primary =
            run_process({"/usr/bin/iso-info", "-i", iso, "-l", "--no-header", "--no-joliet"}, reader_options());
        ASSERT_EQ(primary.exit_status, 0) << primary.standard_error;
        check_primary_listing("iso-info --no-joliet", parse_listing(primary.standard_output, true), layout, false,
                              kIsoInfoTime);
    }
    if (!missing_.empty() && !HasFailure()) {
        GTEST_SKIP() << "readers not installed:" << missing_;
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

DiscCase refused_folder(std::string test, Entry root, Refusal refusal, std::optional<std::string> label = {})
{
    return {.name = std::move(test), .root = std::move(root), .label = std::move(label), .refusal = std::move(refusal)};
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
        {.name = "sizes_around_sectors",
         .root =
             folder("sizes", {file("0", 0), file("1", 1), file("2047", 2047), file("2048", 2048), file("2049", 2049),
                              file("4095", 4095), file("4096", 4096), file("4097", 4097), file("empty too", 0)})},
        {.name = "empty_directories",
         .root = folder(
             "e", {folder("empty", {}, kTime - 100), folder("a", {folder("b", {folder("empty", {}, kTime - 5)})})})},
        {.name = "eight_levels", .root = folder("deep", {nested(7, file("bottom.txt", 10)), file("top.txt", 20)})},
        {.name = "thousands_of_files",
         .root = folder("many", {folder("files", numbered("document number ", 3000, false))})},
        {.name = "hundreds_of_directories",
         .root = folder("dirs", numbered("a directory with quite a long name that is ", 300, true))},
        {.name = "empty_folder", .root = folder("日本語", {}), .primary_volume = "CDROM", .joliet_volume = "日本語"},
        {.name = "hard_links",
         .root = folder("links", {linked(file("one", 3000), 7), folder("sub", {linked(file("two", 3000), 7)}),
                                  linked(file("other", 10), 8)}),
         .extents = 2},
        {.name = "times_at_the_edges",
         .root = folder("t", {file("1900", 1, kFirstTime), file("epoch", 1, 0), file("leap day", 1, 951782400),
                              file("2038", 1, 2147483648), file("2155", 1, kLastTime)})},
        {.name = "label_in_cyrillic",
         .root = folder("f", {file("a", 1)}),
         .label = "Драйверы модема",
         .primary_volume = "CDROM",
         .joliet_volume = "Драйверы модема"},
        {.name = "long_folder_name",
         .root = folder("A Driver Disc of Many Words 2.0", {}),
         .primary_volume = "A_DRIVER_DISC_OF_MANY_WORDS_2_0",
         .joliet_volume = "A Driver Disc of"},
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
        refused_folder(
            "nine_levels", folder("deep", {nested(8, file("bottom.txt", 10))}),
            refused(RefusalKind::TooDeep, "level 8/level 7/level 6/level 5/level 4/level 3/level 2/level 1")),
        refused_folder("file_too_large", folder("f", {file("huge", kMaxSourceLength + 1)}),
                       refused(RefusalKind::TooLarge, "huge")),
        refused_folder("disc_too_large", folder("f", {file("big", kMaxSourceLength - metadata + 1)}),
                       refused(RefusalKind::TooLarge)),
        refused_folder("before_1900", folder("f", {folder("d", {file("old", 1, kFirstTime - 1)})}),
                       refused(RefusalKind::DateOutOfRange, "d/old")),
        refused_folder("after_2155", folder("f", {file("new", 1, kLastTime + 1)}),
                       refused(RefusalKind::DateOutOfRange, "new")),
        refused_folder("empty_directory_after_2155", folder("f", {folder("d", {}, kLastTime + 1)}),
                       refused(RefusalKind::DateOutOfRange, "d")),
        refused_folder("label_too_long", folder("f", {}), refused(RefusalKind::LabelTooLong), std::string(17, 'L')),
        refused_folder("label_with_control", folder("f", {}), refused(RefusalKind::InvalidLabel), "a\nb"),
        refused_folder("label_not_utf8", folder("f", {}), refused(RefusalKind::InvalidLabel), "\xFF"),
    };
}

INSTANTIATE_TEST_SUITE_P(Folders, DiscLayoutTest, testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<DiscCase>& info) { return info.param.name; });

}  // namespace
}  // namespace quarnel::disc
