// quarnel-pack end to end: folders made on disk, packed, and read back by ISO
// 9660 readers we did not write; every image must be what quarnel makes of
// the disc, and every refusal must leave nothing behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "support/end_to_end.h"
#include "support/expected_image.h"
#include "support/iso_readers.h"

namespace quarnel::test {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPackBanner = "quarnel-pack - folder to USB modem CD-ROM image packer v1.0\n"
                                         "Copyright (c) 2026 the quarnel developers.\n"
                                         "Free software under the MIT License, provided as is, without warranty.\n"
                                         "Project home page: https://quarnel.example.org\n"
                                         "\n";
constexpr std::int64_t kBaseTime = 1765190096;  // 2025-12-08T10:34:56Z

// One file or folder of a case: a path below the folder, "/" at the end for a folder.
struct Item {
    std::string path;
    std::size_t size = 0;
};

struct PackCase {
    std::string name;
    std::vector<Item> items;
    std::vector<std::string> options{};
    std::vector<std::string> model{};  // quarnel's option for the same model
};

void set_time(const fs::path& path, std::int64_t seconds)
{
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

// Each item gets a time of its own, later for later items, so that a
// directory's time is its newest content's.
void make_folder(const fs::path& folder, const std::vector<Item>& items)
{
    fs::create_directories(folder);
    std::int64_t time = kBaseTime;
    for (const Item& item : items) {
        const fs::path path = folder / item.path;
        if (item.path.ends_with('/')) {
            fs::create_directories(path);
        } else {
            fs::create_directories(path.parent_path());
            std::ofstream(path, std::ios::binary) << bytes_named(item.path, item.size);
        }
        set_time(path, time += 3600);
    }
}

// Every file below `root` with its bytes and time; folders with "/".
std::map<std::string, std::pair<std::string, std::int64_t>> tree(const fs::path& root)
{
    std::map<std::string, std::pair<std::string, std::int64_t>> found;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string relative = fs::relative(entry.path(), root).string();
        struct stat info {};
        (void)::lstat(entry.path().c_str(), &info);
        if (entry.is_directory()) {
            found[relative + "/"] = {"", 0};
        } else {
            found[relative] = {read_text(entry.path()), info.st_mtim.tv_sec};
        }
    }
    return found;
}

std::int64_t mtime(const fs::path& path)
{
    struct stat info {};
    (void)::lstat(path.c_str(), &info);
    return info.st_mtim.tv_sec;
}

// `count` files, or with a `suffix` ending in "/" folders, in `folder`.
std::vector<Item> numbered(std::string_view folder, int count, std::size_t size, std::string_view suffix = ".txt")
{
    std::vector<Item> items;
    for (int i = 0; i < count; ++i) {
        items.push_back({std::string(folder) + "file number " + std::to_string(i) + std::string(suffix), size});
    }
    return items;
}

// Three folders of 64 letters, then a file of `last`: a path of 195 + `last` UTF-16 units.
std::string long_path(std::size_t last, std::string_view folder_letter = "a", std::string_view file_letter = "b")
{
    std::string path;
    for (std::size_t i = 0; i < 3 * 64 + last; ++i) {
        path += i < 3 * 64 ? folder_letter : file_letter;
        path += i % 64 == 63 ? "/" : "";
    }
    return path;
}

std::vector<Item> concatenated(std::vector<std::vector<Item>> parts)
{
    std::vector<Item> items;
    for (auto& part : parts) {
        items.insert(items.end(), part.begin(), part.end());
    }
    return items;
}

class Pack : public EndToEnd {
protected:
    ProcessResult pack(std::vector<std::string> arguments, const ProcessOptions& options = {})
    {
        return run_process(built_program(QUARNEL_PACK_BINARY, std::move(arguments)), options);
    }

    std::string read(const std::string& name) const { return read_text(path(name)); }

    // What the independent readers extract from (or mount of) the disc equals
    // the folder: names, bytes and times; a FUSE mount is left out where it
    // cannot be made. How readers list the disc laid out of a tree, Joliet and
    // primary, is disc_layout_test's: the same code lays out the folder's.
    void expect_readers_see(const std::string& iso, const fs::path& folder, const std::string& what)
    {
        const std::string out = path("extracted");
        auto expected = tree(folder);
        const bool beyond_the_bmp = std::any_of(expected.begin(), expected.end(), [](const auto& item) {
            return std::any_of(item.first.begin(), item.first.end(),
                               [](char c) { return static_cast<unsigned char>(c) >= 0xF0; });
        });
        for (const Reader& reader : kReaders) {
            if ((reader.shows != Shows::Extracted && reader.shows != Shows::Mounted) ||
                (beyond_the_bmp && reader.takes_ucs2)) {
                continue;
            }
            if (!fs::exists(reader.command[0])) {
                ADD_FAILURE() << reader.command[0] << " is missing: the readers are part of the test";
                continue;
            }
            fs::remove_all(out);
            fs::create_directories(out);
            const ProcessResult result = run_process(reader_command(reader, iso, out));
            const Mount mount{out, reader.shows == Shows::Mounted && result.exit_status == 0};
            if (reader.shows == Shows::Mounted && !mount.mounted) {
                continue;
            }
            ASSERT_EQ(result.exit_status, 0) << what << ", " << reader.name << ": " << result.standard_error;
            EXPECT_EQ(tree(out), expected) << what << ", read by " << reader.name;
        }
    }
};

TEST_F(Pack, FoldersBecomeDiscsEveryReaderSeesAsTheyAre)
{
    const std::vector<PackCase> cases = {
        {"a driver disc",
         {{"autorun.inf", 61},
          {"Setup.exe", 300000},
          {"drivers/", 0},
          {"drivers/usbmodem.sys", 40961},
          {"drivers/usbmodem.inf", 2047},
          {"docs/Read Me.txt", 4096},
          {"docs/manual.pdf", 4097}}},
        {"Unicode names",
         {{"Ünïcødé/", 0},
          {"Ünïcødé/café crème.txt", 2048},
          {"日本語のファイル.txt", 100},
          {"Ελληνικά/Αρχείο", 5},
          {"emoji 🎉 party.txt", 1},
          {"Кириллица.doc", 8191}}},
        {"empty files and folders", {{"empty.txt", 0}, {"empty folder/", 0}, {"deep/er/empty/", 0}, {"deep/zero", 0}}},
        // Below the eighth level the primary tree moves directories into its relocation folder.
        {"twelve levels deep",
         {{"src/main/java/org/example/app/core/model/deep/leaf/Bottom.java", 5000},
          {"src/main/java/org/example/app/core/model/Model.java", 100},
          {"src/test/java/org/example/app/core/model/deep/leaf/Bottom.java", 6000},
          {"src/test/java/org/example/app/core/model/deep/empty/", 0},
          {"DEEPER.TXT", 7}}},
        {"thousands of files in one folder", numbered("many/", 3000, 3)},
        {"hundreds of folders", concatenated({numbered("", 1, 1), numbered("", 400, 0, "/inner/")})},
        {"an empty folder", {}},
        {"paths of 256 UTF-16 units, as long as a path gets", {{long_path(61), 1}, {long_path(61, "日", "本"), 2}}},
        {"for the E220, with a label", {{"a.txt", 5000}}, {"/label:Mein Modem", "/MODEL:e220"}, {"/model:E220"}},
    };
    for (const PackCase& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = dir_ / "My Disc";
        fs::remove_all(folder);
        make_folder(folder, c.items);
        const auto packed = [&](std::vector<std::string> extra, const std::string& destination,
                                ProcessOptions options = {}) {
            std::vector<std::string> arguments = c.options;
            arguments.insert(arguments.end(), extra.begin(), extra.end());
            arguments.insert(arguments.end(), {folder.string(), path(destination)});
            return run_process(built_program(QUARNEL_PACK_BINARY, arguments), options);
        };
        const ProcessResult image = packed({}, "image.bin");
        EXPECT_EQ(image.standard_error, std::string(kPackBanner) + std::string(kSuccess));
        ASSERT_EQ(image.exit_status, 0);
        ASSERT_EQ(packed({"/ISO"}, "image.iso").exit_status, 0);

        // The image is quarnel's of the disc; the disc is the same in any time zone, run after run.
        std::vector<std::string> convert = c.model;
        convert.insert(convert.end(), {path("image.iso"), path("converted.bin")});
        ASSERT_EQ(quarnel(convert).exit_status, 0);
        EXPECT_EQ(read("converted.bin"), read("image.bin"));
        ProcessOptions elsewhere;
        elsewhere.environment = {{"TZ", "Pacific/Chatham"}};
        ASSERT_EQ(packed({"/iso"}, "again.iso", elsewhere).exit_status, 0);
        EXPECT_EQ(read("again.iso"), read("image.iso"));
        expect_readers_see(path("image.iso"), folder, c.name);

        // And back: the folder again, names, bytes and times, from the image.
        fs::remove_all(dir_ / "unpacked");
        const ProcessResult unpacked =
            run_process(built_program(QUARNEL_INSPECT_BINARY, {"/unpack:" + path("unpacked"), path("image.bin")}));
        EXPECT_EQ(unpacked.standard_error, "");
        ASSERT_EQ(unpacked.exit_status, 0);
        EXPECT_EQ(tree(dir_ / "unpacked"), tree(folder));
        // A folder's time on the disc is the newest of what it holds (its own when empty), the root's too.
        std::vector<fs::path> folders{dir_ / "unpacked"};
        for (const auto& entry : fs::recursive_directory_iterator(folders[0])) {
            if (entry.is_directory()) {
                folders.push_back(entry.path());
            }
        }
        for (const fs::path& unpacked_folder : folders) {
            std::int64_t newest = mtime(folder / fs::relative(unpacked_folder, folders[0]));
            for (bool first = true; const auto& entry : fs::directory_iterator(unpacked_folder)) {
                newest = first ? mtime(entry.path()) : std::max(newest, mtime(entry.path()));
                first = false;
            }
            EXPECT_EQ(mtime(unpacked_folder), newest) << unpacked_folder;
        }
    }
}

// Every refusal comes before anything is written, names its path, and
// leaves an existing destination as it was.
TEST_F(Pack, WhatNoDiscCanHoldIsRefusedUpFront)
{
    struct Refusal {
        std::string name;
        std::function<void(const fs::path& folder)> make;
        std::string message;  // "F" stands for the folder as given
        std::vector<std::string> options{};
        std::string destination = "old.bin";
    };
    const auto touch = [](const fs::path& path) { std::ofstream(path, std::ios::binary) << "x"; };
    const std::vector<Refusal> refusals = {
        {"a character Joliet forbids", [&](const fs::path& f) { touch(f / "a?b.txt"); },
         R"(Error: "F/a?b.txt" has a character a disc name cannot hold (* / : ; ? \ or a control character).)"},
        {"a control character", [&](const fs::path& f) { touch(f / "tab\there"); },
         R"(Error: "F/tab\x09here" has a character a disc name cannot hold (* / : ; ? \ or a control character).)"},
        {"a name of 65 UTF-16 units", [&](const fs::path& f) { touch(f / std::string(65, 'n')); },
         "Error: \"F/" + std::string(65, 'n') + "\" has a name longer than 64 UTF-16 units."},
        {"two names equal but for case",
         [&](const fs::path& f) {
             fs::create_directories(f / "sub");
             touch(f / "sub/Setup.exe");
             touch(f / "sub/SETUP.EXE");
         },
         R"(Error: "F/sub/Setup.exe" and "F/sub/SETUP.EXE" differ only in letter case.)"},
        {"one name written two ways",
         [&](const fs::path& f) {
             touch(f / "caf\u00E9.txt");
             touch(f / "cafe\u0301.txt");
         },
         "Error: \"F/caf\u00E9.txt\" and \"F/cafe\u0301.txt\" are one name written two ways (as an accented letter or "
         "as a letter and its accent, say), which macOS and other readers show as one."},
        {"a character Windows forbids", [&](const fs::path& f) { touch(f / "a|b.txt"); },
         R"(Error: "F/a|b.txt" has a character Windows cannot open in a name (" < > or |).)"},
        {"a name ending in a dot",
         [&](const fs::path& f) {
             touch(f / "notes");
             touch(f / "notes.");
         },
         R"(Error: "F/notes." has a name ending in "." or a space, which Windows cannot open.)"},
        {"a device name", [&](const fs::path& f) { touch(f / "Nul.tar.gz"); },
         R"(Error: "F/Nul.tar.gz" has a name Windows keeps for a device (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, with any extension), which it cannot open.)"},
        {"a path of 257 UTF-16 units",
         [&](const fs::path& f) {
             fs::create_directories((f / long_path(62)).parent_path());
             touch(f / long_path(62));
         },
         "Error: \"F/" + long_path(62) +
             "\" has a path of more than 256 UTF-16 units on the disc (names and separators), which Windows cannot "
             "open."},
        {"a symbolic link", [](const fs::path& f) { fs::create_symlink("/etc/hostname", f / "link"); },
         R"(Error: "F/link" is neither a file nor a folder (a link, a device, a FIFO or a socket), which a disc cannot hold.)"},
        {"a FIFO", [](const fs::path& f) { ASSERT_EQ(::mkfifo((f / "pipe").c_str(), 0600), 0); },
         R"(Error: "F/pipe" is neither a file nor a folder (a link, a device, a FIFO or a socket), which a disc cannot hold.)"},
        {"a disc of 2 GiB", [](const fs::path& f) { make_sparse_file(f / "big.bin", std::uintmax_t{1} << 31); },
         R"(Error: "F/big.bin" makes a disc of 2 GiB or more.)"},
        {"no folder", [](const fs::path& f) { fs::remove_all(f); }, R"(Error: "F" does not exist or is not a folder.)"},
        {"a name that is not UTF-8", [&](const fs::path& f) { touch(f / "bad\xff.txt"); },
         "Error: \"F/bad\xff.txt\" has a name that is not UTF-8."},
        {"a label Joliet forbids",
         [](const fs::path&) {},
         "Error: the volume label has a character a disc cannot hold.",
         {"/label:a*b"}},
        {"a label of 17 units",
         [](const fs::path&) {},
         "Error: the volume label is longer than 16 UTF-16 units.",
         {"/LABEL:" + std::string(17, 'L')}},
        {"an unknown option",
         [](const fs::path&) {},
         "Usage: quarnel-pack [/model:E220] [/label:<volume label>] [/iso] <folder> <destination>",
         {"/bogus"}},
        {"a destination in no folder",
         [](const fs::path&) {},
         "Error: unable to create destination file \"D\".",
         {},
         "missing/out.bin"},
        {"a file, not a folder",
         [&](const fs::path& f) {
             fs::remove_all(f);
             touch(f);
         },
         R"(Error: "F" does not exist or is not a folder.)"},
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.name);
        const fs::path folder = dir_ / "folder";
        fs::remove_all(folder);
        fs::create_directories(folder);
        touch(folder / "fine.txt");
        r.make(folder);
        std::ofstream(dir_ / "old.bin") << "old";
        std::vector<std::string> arguments = r.options;
        arguments.insert(arguments.end(), {folder.string(), path(r.destination)});
        const ProcessResult result = pack(arguments);
        std::string message = r.message;
        if (const std::size_t at = message.find("\"D\""); at != std::string::npos) {
            message.replace(at + 1, 1, path(r.destination));
        }
        for (std::size_t at = 0; (at = message.find("\"F", at)) != std::string::npos; at += folder.string().size()) {
            message.replace(at + 1, 1, folder.string());
        }
        EXPECT_EQ(result.standard_error, std::string(kPackBanner) + message + "\n");
        EXPECT_EQ(result.exit_status, kFailureStatus);
        EXPECT_EQ(read("old.bin"), "old");
        EXPECT_FALSE(has_temporary_file(dir_));
    }
}

TEST_F(Pack, HelpAndVersionGoToStandardOutput)
{
    const ProcessResult help = pack({"--help"});
    EXPECT_EQ(help.exit_status, 0);
    EXPECT_TRUE(help.standard_output.starts_with(
        "Usage: quarnel-pack [/model:E220] [/label:<volume label>] [/iso] <folder> <destination>\n"));
    EXPECT_EQ(help.standard_error, "");
    const ProcessResult version = pack({"--version"});
    EXPECT_EQ(version.standard_output, "quarnel-pack 1.0.0\n");
    EXPECT_EQ(version.exit_status, 0);
}

// The image may be written into the very folder it is made of: it is never
// on its own disc, nor is its folder's time its write's: packing again gives the same bytes.
TEST_F(Pack, AnImageInsideItsFolderIsNotPacked)
{
    const fs::path folder = dir_ / "folder";
    make_folder(folder, {{"a.txt", 3000}, {"sub/", 0}});
    const std::string image = (folder / "sub/image.bin").string();
    ASSERT_EQ(pack({folder.string(), image}).exit_status, 0);
    const std::string first = read("folder/sub/image.bin");
    ASSERT_EQ(pack({folder.string(), image}).exit_status, 0);
    EXPECT_EQ(read("folder/sub/image.bin"), first);
}

// The volume is named after the folder itself, however the folder is spelt.
TEST_F(Pack, TheLabelIsTheFolderNameHoweverItIsSpelt)
{
    const fs::path folder = dir_ / "My Disc";
    make_folder(folder, {{"sub/a.txt", 10}});
    fs::create_directory_symlink(folder, dir_ / "link");
    ASSERT_EQ(pack({"/iso", folder.string(), path("named.iso")}).exit_status, 0);
    const std::vector<std::pair<std::string, std::string>> spellings = {
        {"..", "My Disc/sub"}, {".", "My Disc"}, {"My Disc/", ""}, {"sub/../../My Disc", "My Disc"}, {"link", ""}};
    for (const auto& [spelling, from] : spellings) {
        SCOPED_TRACE(spelling);
        ASSERT_EQ(pack({"/iso", spelling, path("spelt.iso")}, ProcessOptions::in_directory(path(from))).exit_status, 0);
        EXPECT_TRUE(read("spelt.iso") == read("named.iso"));
    }
    EXPECT_EQ(read("named.iso").substr(16 * 2048 + 40, 8), "MY_DISC ");  // the primary volume identifier
}

// A file changed after the folder was looked at, an empty one too, fails the
// run with the file named, and the destination is as it was; a hard link of
// the destination is packed with the bytes it holds.
TEST_F(Pack, AFileChangedWhilePackedFailsTheRun)
{
    struct Change {
        std::string name;
        std::function<void(const fs::path& folder)> midway;
        std::string failing;  // the file named; empty: the run succeeds
    };
    const std::vector<Change> changes = {
        {"a file's time", [](const fs::path& f) { set_time(f / "big.bin", kBaseTime); }, "big.bin"},
        {"an empty file", [](const fs::path& f) { std::ofstream(f / "empty", std::ios::app) << "x"; }, "empty"},
        {"none", [](const fs::path&) {}, ""},
    };
    const fs::path folder = dir_ / "folder";  // on the destination's file system, for the link
    for (const Change& c : changes) {
        SCOPED_TRACE(c.name);
        fs::remove_all(folder);
        make_folder(folder, {{"empty", 0}});
        fs::create_directories(dir_ / "work");
        make_sparse_file(folder / "big.bin", std::uintmax_t{1} << 26);
        std::ofstream(path("work/image.iso")) << "old";
        fs::create_hard_link(path("work/image.iso"), folder / "backup.iso");
        const ProcessResult result =
            run_stopped_midway(built_program(QUARNEL_PACK_BINARY, {"/iso", folder.string(), path("work/image.iso")}),
                               [&](pid_t) { c.midway(folder); });
        const bool fails = !c.failing.empty();
        const std::string unreadable = "Error: unable to read \"" + (folder / c.failing).string() + "\".\n";
        EXPECT_EQ(result.standard_error, std::string(kPackBanner) + (fails ? unreadable : std::string(kSuccess)));
        EXPECT_EQ(result.exit_status, fails ? kFailureStatus : 0);
        EXPECT_EQ(left_in_work(), std::set<std::string>{"image.iso"});
        // The destination as it was, or a disc whose backup.iso holds what the destination held.
        EXPECT_TRUE((fails ? read("work/image.iso")
                           : run_process({"/usr/bin/isoinfo", "-i", path("work/image.iso"), "-J", "-x", "/backup.iso"})
                                 .standard_output) == "old");
    }
}

}  // namespace
}  // namespace quarnel::test
