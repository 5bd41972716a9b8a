// Runs the built quarnel as a user would and checks everything it leaves:
// standard error byte for byte, an empty standard output, the exit status
// and the files in the working directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

#include "support/end_to_end.h"
#include "support/expected_image.h"
#include "support/image_bytes.h"
#include "support/process.h"

namespace quarnel {
namespace {

namespace fs = std::filesystem;
using namespace test;

// A spelling of `name` longer than PATH_MAX, which only a walk a directory at a time accepts.
std::string beyond_path_max(const std::string& name)
{
    std::string spelling;
    for (int i = 0; i < 2100; ++i) {
        spelling += "./";
    }
    return spelling + name;
}

TEST_F(EndToEnd, UsageForms)
{
    // Which forms are refused is CommandLine.RejectedForms'; here, what a refusal prints.
    expect_failure(quarnel({}), kUsage);
}

TEST_F(EndToEnd, UnusableSourcesLeaveTheDestinationAlone)
{
    const Bytes existing = random_bytes(100, 7);
    write_file(path("out.bin"), existing);
    write_file(path("odd.iso"), Bytes(2049, 1));
    write_file(path("one.iso"), Bytes(1, 1));
    fs::create_directory(path("folder.iso"));
    ASSERT_EQ(::mkfifo(path("fifo.iso").c_str(), 0600), 0);

    struct Case {
        std::string source;
        std::string_view message;
    };
    const Case cases[] = {
        {path("missing.iso"), kUnableToOpenSource}, {path("folder.iso"), kUnableToOpenSource},
        {path("fifo.iso"), kUnableToOpenSource},    {"/dev/null", kUnableToOpenSource},
        {path("odd.iso"), kBadSourceLength},        {path("one.iso"), kBadSourceLength},
    };
    const std::set<std::string> before = entries();
    for (const Case& c : cases) {
        expect_failure(quarnel({"/model:E220", c.source, path("out.bin")}), c.message);
        EXPECT_EQ(read_file(path("out.bin")), existing) << c.source;
        EXPECT_EQ(entries(), before) << c.source;
    }
}

TEST_F(EndToEnd, UnusableDestinations)
{
    write_file(path("in.iso"), Bytes(2048, 3));
    fs::create_directory(path("folder"));
    ASSERT_EQ(::mkfifo(path("fifo.bin").c_str(), 0600), 0);
    fs::create_symlink("folder", path("link-to-folder"));
    fs::create_symlink("loop.bin", path("loop.bin"));
    const std::string cases[] = {path("no-such-dir/out.bin"),
                                 path("folder"),
                                 path("fifo.bin"),
                                 path("link-to-folder"),
                                 path("loop.bin"),
                                 "/dev/null",
                                 path(std::string(5000, 'n')),
                                 "",
                                 path("new-folder/"),
                                 path("folder/")};
    const std::set<std::string> before = entries();
    for (const std::string& destination : cases) {
        expect_failure(quarnel({path("in.iso"), destination}), kUnableToCreateDestination);
        EXPECT_EQ(entries(), before) << destination;
    }
    EXPECT_TRUE(fs::is_empty(path("folder")));
}

TEST_F(EndToEnd, SameFileIsRefusedInEverySpelling)
{
    const Bytes source = random_bytes(4096, 11);
    write_file(path("in.iso"), source);
    fs::create_directory(path("sub"));
    fs::create_hard_link(path("in.iso"), path("hard.iso"));
    fs::create_symlink("in.iso", path("soft.iso"));
    const std::string destinations[] = {
        path("in.iso"),   (dir_ / "." / "in.iso").string(), (dir_ / "sub" / ".." / "in.iso").string(), path("hard.iso"),
        path("soft.iso"), path(beyond_path_max("in.iso"))};
    for (const std::string& destination : destinations) {
        expect_failure(quarnel({path("in.iso"), destination}), kSameFile);
        EXPECT_EQ(read_file(path("in.iso")), source) << destination;
    }
    expect_failure(quarnel({"in.iso", "./in.iso"}, ProcessOptions::in_directory(dir_.string())), kSameFile);
    EXPECT_EQ(entries(), (std::set<std::string>{"in.iso", "sub", "hard.iso", "soft.iso"}));
}

TEST_F(EndToEnd, ReplacesTheFileALinkNamesAndKeepsPermissions)
{
    const Bytes source = random_bytes(6144, 5);
    write_file(path("in.iso"), source);
    write_file(path("target.bin"), Bytes(10, 0));
    fs::permissions(path("target.bin"), fs::perms(0640));
    fs::create_symlink("target.bin", path("link.bin"));
    fs::create_symlink("new.bin", path("dangling.bin"));

    expect_success(quarnel({path("in.iso"), path("link.bin")}));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(path("link.bin"))));
    EXPECT_EQ(read_file(path("target.bin")), expected_image(source, Model::Default));
    EXPECT_EQ(fs::status(path("target.bin")).permissions(), fs::perms(0640));

    expect_success(quarnel({path("in.iso"), path("dangling.bin")}));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(path("dangling.bin"))));
    EXPECT_EQ(read_file(path("new.bin")), expected_image(source, Model::Default));
}

TEST_F(EndToEnd, TwoGibibyteLimit)
{
    const fs::path scratch = scratch_directory();
    const std::string pid = std::to_string(::getpid());
    const fs::path source = scratch / ("quarnel-limit-" + pid + ".iso");
    const fs::path destination = scratch / ("quarnel-limit-" + pid + ".bin");

    for (std::uintmax_t length : {std::uintmax_t{1} << 31, (std::uintmax_t{1} << 31) + 2048, std::uintmax_t{1} << 32}) {
        make_sparse_file(source, length);
        expect_failure(quarnel({source.string(), destination.string()}), kBadSourceLength);
        EXPECT_FALSE(fs::exists(destination));
    }

    const std::uint32_t largest = (std::uint32_t{1} << 31) - 2048;
    fs::resize_file(source, largest);
    expect_success(quarnel({source.string(), destination.string()}));
    const std::size_t blocks = 524288;
    EXPECT_EQ(fs::file_size(destination), 418 + 2 * blocks + largest);
    Bytes header(418 + 2 * blocks);
    {
        std::ifstream in(destination, std::ios::binary);
        in.read(reinterpret_cast<char*>(header.data()), static_cast<std::streamsize>(header.size()));
    }
    const Bytes small_image = expected_image(Bytes(8192 - 2048, 0), Model::Default);
    EXPECT_EQ(get32(header, 324), 98 + 2 * blocks);
    EXPECT_EQ(get32(header, 344), largest);
    EXPECT_TRUE(header_checksum_verifies(header, 320));
    for (const auto& [first, last] : kZeroRanges) {
        EXPECT_EQ(std::count(header.begin() + first, header.begin() + last + 1, 0), last + 1 - first) << first;
    }
    // Every full zero block and the short last one checksum like those of a small all-zero image.
    for (std::size_t i = 0; i + 1 < blocks; ++i) {
        ASSERT_EQ(header[418 + 2 * i], small_image[418]) << i;
        ASSERT_EQ(header[419 + 2 * i], small_image[419]) << i;
    }
    EXPECT_EQ(header[418 + 2 * (blocks - 1)], small_image[420]);
    EXPECT_EQ(header[419 + 2 * (blocks - 1)], small_image[421]);
    fs::remove(source);
    fs::remove(destination);
}

TEST_F(EndToEnd, InspectReportsAndRefuses)
{
    const Bytes source = random_bytes(10240, 21);
    write_file(path("in.iso"), source);
    expect_success(quarnel({"/model:E220", path("in.iso"), path("good.bin")}));
    Bytes damaged = read_file(path("good.bin"));
    damaged[424 + 5000] ^= 1;
    write_file(path("bad.bin"), damaged);

    const ProcessResult good = inspect({path("good.bin")});
    EXPECT_EQ(good.exit_status, 0);
    EXPECT_EQ(good.standard_error, "");
    for (const char* line : {"Record 1 at offset 92\n", "  Type code:        0xF200 (signature record, E220 codes)\n",
                             "Record 2 at offset 320\n", "  Header length:    104\n", "  Payload length:   10240\n",
                             "  Block checksums:  all 3 good\n", "\nModel: E220\nVerdict: valid modem image\n"}) {
        EXPECT_NE(good.standard_output.find(line), std::string::npos) << line;
    }

    struct Case {
        std::vector<std::string> arguments;
        std::string_view message;
    };
    const std::string usage = "Usage: quarnel-inspect [/files] [/unpack:<folder>] <image .bin> [<extracted .iso>]\n";
    const Case failures[] = {
        {{}, usage},
        {{"a", "b", "c"}, usage},
        {{"/files"}, usage},
        {{"/FILES", "a", "b", "c"}, usage},
        {{"/unpack:", path("good.bin")}, usage},                               // a folder it names, or no option at all
        {{"--help", path("out.iso")}, "Error: unable to open image file.\n"},  // an option only as the sole argument
        {{path("missing.bin")}, "Error: unable to open image file.\n"},
        {{path("bad.bin"), path("out.iso")}, "Error: block checksum does not match.\n"},
        {{path("in.iso")}, "Error: image prologue is not zero.\n"},
        {{path("good.bin"), path("good.bin")}, "Error: image and extracted file are the same file.\n"},
        {{path("good.bin"), path(beyond_path_max("good.bin"))}, "Error: image and extracted file are the same file.\n"},
        {{path("good.bin"), path("no-such-dir/out.iso")}, "Error: unable to create extracted file.\n"},
    };
    for (const Case& c : failures) {
        const ProcessResult result = inspect(c.arguments);
        EXPECT_EQ(result.standard_error, c.message);
        EXPECT_EQ(result.exit_status, kFailureStatus);
        EXPECT_EQ(entries(), (std::set<std::string>{"in.iso", "good.bin", "bad.bin"}));
    }
    // --help and --version print on standard output and succeed, as xz's do, or say they could not.
    for (const auto& [option, start, failure] :
         {std::tuple{"--help", "Usage: quarnel-inspect [/files] [/unpack:<folder>] <image .bin> [<extracted .iso>]\n",
                     "Error: unable to write help.\n"},
          std::tuple{"--version", "quarnel-inspect 1.", "Error: unable to write version.\n"}}) {
        const ProcessResult shown = inspect({option});
        EXPECT_EQ(shown.exit_status, 0) << option;
        EXPECT_EQ(shown.standard_error, "") << option;
        EXPECT_TRUE(shown.standard_output.starts_with(start)) << shown.standard_output;
        const ProcessResult full = inspect({option}, ProcessOptions::with_output_to("/dev/full"));
        EXPECT_EQ(full.exit_status, kFailureStatus) << option;
        EXPECT_EQ(full.standard_error, failure) << option;
    }

    EXPECT_EQ(inspect({path("good.bin")}, ProcessOptions::with_output_to("/dev/full")).standard_error,
              "Error: unable to write report.\n");

    const Bytes existing = random_bytes(30, 1);
    write_file(path("out.iso"), existing);
    EXPECT_EQ(inspect({path("good.bin"), path("out.iso")}, ProcessOptions::with_file_size_limit(5000)).standard_error,
              kUnableToWriteExtracted);
    EXPECT_EQ(read_file(path("out.iso")), existing);
}

}  // namespace
}  // namespace quarnel
