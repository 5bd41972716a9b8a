// The converter's two ways of moving the payload, each run as a user would:
// quarnel itself (through memory, on a local file system) and
// quarnel_kernel_copy (in the kernel where Linux offers it, as between two
// files on one file server). Both must leave the same bytes and fail the same way.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <set>
#include <string>
#include <unistd.h>

#include "support/end_to_end.h"
#include "support/expected_image.h"
#include "support/process.h"

namespace quarnel {
namespace {

namespace fs = std::filesystem;
using namespace test;

class CopyPaths : public EndToEnd, public ::testing::WithParamInterface<std::string> {
protected:
    ProcessResult convert(std::vector<std::string> arguments, const ProcessOptions& options = {})
    {
        return run_process(built_program(GetParam(), std::move(arguments)), options);
    }
};

TEST_P(CopyPaths, SameImageForEveryLengthAndModel)
{
    // No option and the E220; how each spelling parses, an unknown model too, is CommandLine.ModelOption's.
    const std::pair<std::string, Model> models[] = {{"", Model::Default}, {"/model:e220", Model::E220}};
    // Empty, one sector, one block, the worked example, and around the steps
    // of both paths (1 MiB chunks, 8 MiB in-kernel steps).
    for (std::size_t length : {0UL, 2048UL, 4096UL, 10240UL, (1UL << 20) - 2048, (1UL << 20) + 2048, (8UL << 20) - 2048,
                               (17UL << 20) + 6144}) {
        const Bytes source = random_bytes(length, static_cast<unsigned>(length) + 11);
        write_file(path("in.iso"), source);
        for (const auto& [option, model] : models) {
            std::vector<std::string> arguments = {path("in.iso"), path("out.bin")};
            if (!option.empty()) {
                arguments.insert(arguments.begin(), option);
            }
            expect_success(convert(arguments));
            EXPECT_EQ(read_file(path("out.bin")), expected_image(source, model)) << length << " '" << option << "'";
            EXPECT_EQ(entries(), (std::set<std::string>{"in.iso", "out.bin"}));
        }
    }
}

TEST_P(CopyPaths, SourceOnAnotherFileSystem)
{
    // From a memory file system to the test's directory the kernel may decline: the result is the same.
    const fs::path source = scratch_directory() / ("quarnel-paths-" + std::to_string(::getpid()) + ".iso");
    const Bytes bytes = random_bytes((9UL << 20) + 2048, 12);
    write_file(source.string(), bytes);
    expect_success(convert({source.string(), path("out.bin")}));
    fs::remove(source);
    EXPECT_EQ(read_file(path("out.bin")), expected_image(bytes, Model::Default));
}

// A file-size limit stands for a disk that fills up: at every 4096-byte
// boundary of a small image, at points inside the header area, inside the
// first and later steps of the copy, and one byte short of the image.
TEST_P(CopyPaths, FullDiskLeavesNothingAndKeepsTheExistingDestination)
{
    std::size_t image_size = 0;
    for (const std::size_t length : {9UL * 4096 + 2048, (17UL << 20) + 2048}) {
        const Bytes source = random_bytes(length, 13);
        write_file(path("in.iso"), source);
        fs::remove(path("out.bin"));
        image_size = expected_image(source, Model::Default).size();
        std::vector<std::size_t> limits = {0, 1, 91, 92, 200, 319, 320, 417, 418, 437, 500, 9000, image_size - 1};
        for (std::size_t limit = 4096; limit < std::min<std::size_t>(image_size, 1UL << 20); limit += 4096) {
            limits.push_back(limit);
        }
        limits.insert(limits.end(), {4UL << 20, (8UL << 20) + 12345});
        for (std::size_t limit : limits) {
            if (limit < image_size) {
                expect_failure(convert({path("in.iso"), path("out.bin")}, ProcessOptions::with_file_size_limit(limit)),
                               kUnableToWriteDestination);
                EXPECT_EQ(entries(), (std::set<std::string>{"in.iso"})) << limit;
            }
        }
        expect_success(convert({path("in.iso"), path("out.bin")}, ProcessOptions::with_file_size_limit(image_size)));
    }
    const Bytes existing = random_bytes(70, 14);
    write_file(path("out.bin"), existing);
    // Before the first byte, inside the placeholder and inside the copy.
    for (std::size_t limit : {0UL, 418UL, 9UL << 20}) {
        expect_failure(convert({path("in.iso"), path("out.bin")}, ProcessOptions::with_file_size_limit(limit)),
                       kUnableToWriteDestination);
        EXPECT_EQ(read_file(path("out.bin")), existing) << limit;
        EXPECT_EQ(entries(), (std::set<std::string>{"in.iso", "out.bin"})) << limit;
    }
    expect_success(convert({path("in.iso"), path("out.bin")}, ProcessOptions::with_file_size_limit(image_size)));
}

TEST_P(CopyPaths, SourceThatShrinksIsAReadFailure)
{
    const std::string source = path("shrinking.iso");
    make_sparse_file(source, std::uintmax_t{1} << 26);
    const ProcessResult result = run_stopped_midway(built_program(GetParam(), {source, path("work/out.bin")}),
                                                    [&](pid_t) { fs::resize_file(source, 4096); });
    EXPECT_EQ(result.exit_status, kFailureStatus);
    EXPECT_EQ(result.standard_error, banner_and(kUnableToReadSource));
    EXPECT_TRUE(left_in_work().empty());
}

TEST_P(CopyPaths, InterruptionLeavesNothing)
{
    const std::string source = path("big.iso");
    make_sparse_file(source, std::uintmax_t{1} << 26);
    const ProcessResult result = signal_midway(built_program(GetParam(), {source, path("work/out.bin")}), SIGINT);
    EXPECT_EQ(result.end_signal, SIGINT);
    EXPECT_EQ(result.standard_error, banner_and(kInterrupted));
    EXPECT_TRUE(left_in_work().empty());
}

INSTANTIATE_TEST_SUITE_P(Programs, CopyPaths, ::testing::Values(QUARNEL_BINARY, QUARNEL_KERNEL_COPY_BINARY),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return info.param == QUARNEL_BINARY ? "ThroughMemory" : "InKernelWhereOffered";
                         });

}  // namespace
}  // namespace quarnel
