#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>
#include <vector>

#include "convert/payload_copy.h"
#include "image/checksum.h"
#include "image/header_area.h"
#include "platform/copy.h"
#include "support/expected_image.h"

namespace quarnel {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kBlock = 4096;
constexpr std::uint64_t kPayloadOffset = 1000;  // not a whole block, as behind a real header area

// The table the reference checksum gives for `payload`.
test::Bytes reference_table(const test::Bytes& payload)
{
    test::Bytes table;
    for (std::size_t at = 0; at < payload.size(); at += kBlock) {
        const std::size_t length = std::min(kBlock, payload.size() - at);
        const std::uint16_t checksum = block_checksum_reference({payload.data() + at, length});
        table.push_back(static_cast<std::uint8_t>(checksum & 0xFF));
        table.push_back(static_cast<std::uint8_t>(checksum >> 8));
    }
    return table;
}

struct Copied {
    PayloadResult result = PayloadResult::Done;
    test::Bytes payload;  // what the destination holds behind the offset
    test::Bytes table;
    std::vector<std::uint64_t> progress;
};

class PayloadCopyTest : public ::testing::TestWithParam<CopyMethod> {
protected:
    void SetUp() override
    {
        const std::string stem = "quarnel-payload-" + std::to_string(::getpid());
        source_ = fs::temp_directory_path() / (stem + ".iso");
        destination_ = fs::temp_directory_path() / (stem + ".bin");
    }
    void TearDown() override
    {
        fs::remove(source_);
        fs::remove(destination_);
    }

    Copied copy(std::uint64_t claimed_length, const CopyProgress& also = {})
    {
        fs::remove(destination_);
        const FileHandle source = open_measurable_source(source_);
        const FileHandle destination = create_exclusive(destination_);
        Copied copied;
        test::Bytes table(2 * block_count_for(claimed_length), 0);
        const Payload payload{source, claimed_length, destination, kPayloadOffset, table};
        copied.result = copy_payload(payload, GetParam(), [&](std::uint64_t done, std::uint64_t total) {
            EXPECT_EQ(total, claimed_length);
            copied.progress.push_back(done);
            if (also) {
                also(done, total);
            }
        });
        const test::Bytes image = test::read_file(destination_.string());
        copied.payload.assign(image.begin() +
                                  static_cast<std::ptrdiff_t>(std::min<std::size_t>(kPayloadOffset, image.size())),
                              image.end());
        copied.table = table;
        return copied;
    }

    fs::path source_;
    fs::path destination_;
};

TEST_P(PayloadCopyTest, CopiesEveryLengthWithTheReferenceChecksums)
{
    for (std::size_t length :
         {0UL, 2048UL, 4096UL, (1UL << 20) + 2048, (8UL << 20) - 2048, (8UL << 20) + 6144, (25UL << 20) + 2048}) {
        const test::Bytes source = test::random_bytes(length, static_cast<unsigned>(length) + 1);
        test::write_file(source_.string(), source);
        const Copied copied = copy(length);
        EXPECT_EQ(copied.result, PayloadResult::Done) << length;
        EXPECT_EQ(copied.payload, source) << length;
        EXPECT_EQ(copied.table, reference_table(source)) << length;
        if (length > 0) {
            ASSERT_FALSE(copied.progress.empty()) << length;
            EXPECT_TRUE(std::is_sorted(copied.progress.begin(), copied.progress.end())) << length;
            EXPECT_EQ(copied.progress.back(), length);
        }
    }
}

TEST_P(PayloadCopyTest, SourceShorterThanClaimedIsAReadFailure)
{
    test::write_file(source_.string(), test::random_bytes(3 << 20, 4));
    for (std::uint64_t claimed : {(3ULL << 20) + 2048, 20ULL << 20}) {
        EXPECT_EQ(copy(claimed).result, PayloadResult::ReadFailed) << claimed;
    }
}

// Bytes changed in the source once the copy is under way must not leave the
// table describing other bytes than the image holds.
TEST_P(PayloadCopyTest, TableDescribesTheDestinationWhenTheSourceChanges)
{
    const std::size_t length = 24UL << 20;
    test::write_file(source_.string(), test::random_bytes(length, 5));
    bool changed = false;
    const Copied copied = copy(length, [&](std::uint64_t, std::uint64_t) {
        if (!changed) {
            changed = true;
            const FileHandle source(::open(source_.c_str(), O_WRONLY));
            ASSERT_EQ(write_at(source, 0, test::random_bytes(length, 6)), 0);
        }
    });
    EXPECT_EQ(copied.result, PayloadResult::Done);
    ASSERT_EQ(copied.payload.size(), length);
    EXPECT_EQ(copied.table, reference_table(copied.payload));
}

INSTANTIATE_TEST_SUITE_P(Methods, PayloadCopyTest, ::testing::Values(CopyMethod::Kernel, CopyMethod::ReadWrite),
                         [](const ::testing::TestParamInfo<CopyMethod>& info) {
                             return info.param == CopyMethod::Kernel ? "InKernelWhereOffered" : "ReadWrite";
                         });

TEST(KernelCopy, ReportsEachWayItEnds)
{
    const fs::path source_path = fs::temp_directory_path() / ("quarnel-kernel-" + std::to_string(::getpid()));
    const test::Bytes bytes = test::random_bytes(10000, 7);
    test::write_file(source_path.string(), bytes);
    const FileHandle source = open_measurable_source(source_path);
    const fs::path destination_path = source_path.string() + ".out";
    const FileHandle destination = create_exclusive(destination_path);

    const KernelCopyResult whole = copy_in_kernel(source, 0, destination, 3, 6000);
    if (whole.status != KernelCopyStatus::Unsupported) {
        EXPECT_EQ(whole.status, KernelCopyStatus::Copied);
        EXPECT_EQ(whole.copied, 6000U);
        const KernelCopyResult past_end = copy_in_kernel(source, 6000, destination, 6003, 8000);
        EXPECT_EQ(past_end.status, KernelCopyStatus::EndOfSource);
        EXPECT_EQ(past_end.copied, 4000U);
        test::Bytes back(10003);
        EXPECT_EQ(read_at(destination, 0, back), 10003);
        EXPECT_EQ(test::Bytes(back.begin() + 3, back.end()), bytes);
    }
    // A character device is no regular file: the caller copies by itself.
    const FileHandle zero(::open("/dev/zero", O_RDONLY));
    EXPECT_EQ(copy_in_kernel(zero, 0, destination, 0, 4096).status, KernelCopyStatus::Unsupported);
    fs::remove(source_path);
    fs::remove(destination_path);
}

// The destination of these copies, as of the output file: neither a taken
// name nor a link, dangling or not, is opened, so nothing is written through.
TEST(CreateExclusive, RefusesATakenNameAndALink)
{
    const fs::path directory = fs::temp_directory_path() / ("quarnel-exclusive-" + std::to_string(::getpid()));
    fs::create_directory(directory);
    fs::create_symlink(directory / "nowhere", directory / "link");
    EXPECT_TRUE(create_exclusive(directory / "new").is_open());
    for (const char* taken : {"new", "link"}) {
        errno = 0;
        EXPECT_FALSE(create_exclusive(directory / taken).is_open()) << taken;
        EXPECT_EQ(errno, EEXIST) << taken;
    }
    EXPECT_FALSE(fs::exists(directory / "nowhere"));
    fs::remove_all(directory);
}

}  // namespace
}  // namespace quarnel
