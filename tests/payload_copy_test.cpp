#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <unistd.h>
#include <utility>
#include <vector>

#include "image/checksum.h"
#include "image/header_area.h"
#include "platform/copy.h"
#include "platform/reparse_point.h"
#include "support/expected_image.h"
#include "writing/payload_copy.h"

namespace quarnel {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kPayloadOffset = 1000;  // not a whole block, as behind a real header area

struct Copied {
    PayloadOutcome outcome;
    test::Bytes payload;  // what the destination holds behind the offset
    test::Bytes table;
    std::vector<std::uint64_t> progress;
};

// A file piece opened on demand, which fails to open or to verify as told.
class TestPieceFile final : public PieceFile {
public:
    TestPieceFile(fs::path path, bool opens, bool verifies) : path_(std::move(path)), opens_(opens), verifies_(verifies)
    {
    }
    FileHandle open(std::size_t) noexcept override { return opens_ ? open_measurable_source(path_) : FileHandle(); }
    [[nodiscard]] int verify(std::size_t, const FileHandle& file) noexcept override
    {
        return verifies_ && file.is_open() ? 0 : -1;
    }

private:
    fs::path path_;
    bool opens_;
    bool verifies_;
};

// Bytes made on demand, or failing to be as told.
class TestPieceBytes final : public PieceBytes {
public:
    TestPieceBytes(test::Bytes bytes, bool makes) : bytes_(std::move(bytes)), makes_(makes) {}
    [[nodiscard]] int fill(std::uint64_t offset, std::span<std::uint8_t> into) const noexcept override
    {
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), into.size(), into.begin());
        return makes_ ? 0 : -1;
    }

private:
    test::Bytes bytes_;
    bool makes_;
};

// The pieces handed over one at a time, as a list.
class TestPieceList final : public PieceList {
public:
    explicit TestPieceList(std::span<const PayloadPiece> pieces) : pieces_(pieces) {}
    [[nodiscard]] std::size_t size() const noexcept override { return pieces_.size(); }
    [[nodiscard]] PayloadPiece piece(std::size_t index) const noexcept override { return pieces_[index]; }

private:
    std::span<const PayloadPiece> pieces_;
};

class PayloadCopyTest : public ::testing::TestWithParam<CopyMethod> {
protected:
    // The source file's first `claimed_length` bytes as the one piece.
    Copied copy(std::uint64_t claimed_length, const CopyProgress& also = {})
    {
        const FileHandle source = open_measurable_source(source_);
        const PayloadPiece piece = PayloadPiece::range(source, 0, claimed_length);
        return copy(std::span(&piece, 1), also);
    }

    Copied copy(std::span<const PayloadPiece> pieces, const CopyProgress& also = {},
                std::size_t chunk_size = kLargeChunkSize, bool as_list = false)
    {
        const TestPieceList list(pieces);
        fs::remove(destination_);
        const FileHandle destination = create_exclusive(destination_);
        Copied copied;
        test::Bytes table(2 * block_count_for(payload_length({pieces, destination, 0, {}})), 0);
        const Payload payload{as_list ? std::span<const PayloadPiece>() : pieces,
                              destination,
                              kPayloadOffset,
                              table,
                              chunk_size,
                              as_list ? &list : nullptr};
        copied.outcome = copy_payload(payload, GetParam(), [&](std::uint64_t done, std::uint64_t total) {
            EXPECT_EQ(total, payload_length(payload));
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

    test::ScratchDirectory scratch_;
    const fs::path source_ = scratch_.path / "source.iso";
    const fs::path destination_ = scratch_.path / "image.bin";
};

TEST_P(PayloadCopyTest, CopiesEveryLengthWithTheReferenceChecksums)
{
    for (std::size_t length :
         {0UL, 2048UL, 4096UL, (1UL << 20) + 2048, (8UL << 20) - 2048, (8UL << 20) + 6144, (25UL << 20) + 2048}) {
        const test::Bytes source = test::random_bytes(length, static_cast<unsigned>(length) + 1);
        test::write_file(source_.string(), source);
        const Copied copied = copy(length);
        EXPECT_EQ(copied.outcome.result, PayloadResult::Done) << length;
        EXPECT_EQ(copied.payload, source) << length;
        EXPECT_EQ(copied.table, test::checksum_table(source)) << length;
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
        const PayloadOutcome outcome = copy(claimed).outcome;
        EXPECT_EQ(outcome.result, PayloadResult::ReadFailed) << claimed;
        EXPECT_EQ(outcome.failed_piece, 0U) << claimed;
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
    EXPECT_EQ(copied.outcome.result, PayloadResult::Done);
    ASSERT_EQ(copied.payload.size(), length);
    EXPECT_EQ(copied.table, test::checksum_table(copied.payload));
}

// The pieces one after another, with blocks and chunks that span them and
// empty ones: m memory, g made on demand, f failing to be made, z zeros, r a
// range of the open source from `offset`, d a file opened on demand, x one
// that cannot be opened, v one that fails its verification, s one 100 bytes
// shorter than its piece; a file's padding zeros follow it in the same piece.
// A piece that fails is the one the failure names. Each case runs on the
// pieces given at once and as a list.
TEST_P(PayloadCopyTest, CopiesPiecesAndNamesTheOneThatFails)
{
    struct Spec {
        char kind;
        std::size_t length;
        std::size_t offset = 0;
        std::size_t padding = 0;
    };
    struct Case {
        std::vector<Spec> pieces;
        PayloadResult result = PayloadResult::Done;
        std::size_t failed_piece = 0;
        std::size_t chunk_size = kLargeChunkSize;
    };
    const Case cases[] = {
        {{{'m', 2048}, {'r', 4096, 100}, {'z', 2048}}},
        {{{'m', 0}, {'m', 2047}, {'d', 1}, {'z', 0}, {'d', 4097}, {'m', 2048}, {'z', 8197}, {'d', 0}}},
        {{{'m', 1000}, {'d', 0}, {'r', (1UL << 20) + 2048, 4096}, {'z', 3000}, {'d', (2UL << 20) + 100}}},
        {{{'g', (1UL << 20) + 3000}, {'d', 100, 0, 1948}, {'g', 1}, {'g', 0}},
         PayloadResult::Done,
         0,
         kCachedChunkSize},
        {{{'m', 10}, {'f', 3000}}, PayloadResult::ReadFailed, 1},
        {{{'m', 2048}, {'x', 4096}, {'z', 10}}, PayloadResult::ReadFailed, 1},
        {{{'z', 4096}, {'d', 2048}, {'v', 5000}, {'m', 10}}, PayloadResult::ReadFailed, 2},
        {{{'m', 10}, {'s', 3UL << 20}}, PayloadResult::ReadFailed, 1},
        {{{'r', 2048}, {'x', 0}}, PayloadResult::ReadFailed, 1},
        {{{'m', 2048}, {'d', 3000, 0, 1096}, {'d', (1UL << 20) + 5, 0, 2043}, {'d', 2048, 0, 0}, {'z', 10}},
         PayloadResult::Done,
         0,
         kCachedChunkSize},
        {{{'d', 100, 0, 1948}, {'s', 5000, 0, 1144}}, PayloadResult::ReadFailed, 1, kCachedChunkSize},
        {{{'m', kCachedChunkSize}, {'d', 0}, {'v', 0}}, PayloadResult::ReadFailed, 2, kCachedChunkSize},
    };
    const test::Bytes source = test::random_bytes(4UL << 20, 8);
    test::write_file(source_.string(), source);
    const FileHandle open_source = open_measurable_source(source_);
    for (std::size_t c = 0; c < std::size(cases); ++c) {
        std::vector<test::Bytes> memory;
        memory.reserve(cases[c].pieces.size());  // the pieces point into it
        std::vector<std::unique_ptr<TestPieceFile>> files;
        std::vector<std::unique_ptr<TestPieceBytes>> made;
        std::vector<PayloadPiece> pieces;
        test::Bytes expected;
        for (const Spec& spec : cases[c].pieces) {
            test::Bytes bytes = test::random_bytes(spec.length, static_cast<unsigned>(c * 100 + pieces.size()));
            const fs::path path = source_.string() + "." + std::to_string(pieces.size());
            switch (spec.kind) {
            case 'm':
                pieces.push_back(PayloadPiece::memory(memory.emplace_back(bytes)));
                break;
            case 'g':
            case 'f':
                made.push_back(std::make_unique<TestPieceBytes>(bytes, spec.kind == 'g'));
                pieces.push_back(PayloadPiece::made_on_demand(*made.back(), spec.length));
                break;
            case 'z':
                bytes.assign(spec.length, 0);
                pieces.push_back(PayloadPiece::zeros(spec.length));
                break;
            case 'r':
                bytes.assign(source.begin() + static_cast<std::ptrdiff_t>(spec.offset),
                             source.begin() + static_cast<std::ptrdiff_t>(spec.offset + spec.length));
                pieces.push_back(PayloadPiece::range(open_source, spec.offset, spec.length));
                break;
            default:
                test::write_file(path.string(),
                                 spec.kind == 's' ? test::Bytes(bytes.begin(), bytes.end() - 100) : bytes);
                files.push_back(std::make_unique<TestPieceFile>(path, spec.kind != 'x', spec.kind != 'v'));
                pieces.push_back(PayloadPiece::on_demand(*files.back(), spec.length, spec.padding));
                bytes.resize(spec.length + spec.padding, 0);
                break;
            }
            expected.insert(expected.end(), bytes.begin(), bytes.end());
        }
        for (const bool as_list : {false, true}) {
            const Copied copied = copy(pieces, {}, cases[c].chunk_size, as_list);
            EXPECT_EQ(copied.outcome.result, cases[c].result) << c << (as_list ? " as a list" : "");
            if (cases[c].result == PayloadResult::Done) {
                EXPECT_EQ(copied.payload, expected) << c;
                EXPECT_EQ(copied.table, test::checksum_table(expected)) << c;
            } else {
                EXPECT_EQ(copied.outcome.failed_piece, cases[c].failed_piece) << c;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Methods, PayloadCopyTest, ::testing::Values(CopyMethod::Kernel, CopyMethod::ReadWrite),
                         [](const ::testing::TestParamInfo<CopyMethod>& info) {
                             return info.param == CopyMethod::Kernel ? "InKernelWhereOffered" : "ReadWrite";
                         });

TEST(KernelCopy, ReportsEachWayItEnds)
{
    const test::ScratchDirectory scratch;
    const test::Bytes bytes = test::random_bytes(10000, 7);
    test::write_file((scratch.path / "source").string(), bytes);
    const FileHandle source = open_measurable_source(scratch.path / "source");
    const FileHandle destination = create_exclusive(scratch.path / "destination");

    // A character device is no regular file: the caller copies by itself.
    const FileHandle zero(::open("/dev/zero", O_RDONLY));
    EXPECT_EQ(copy_in_kernel(zero, 0, destination, 0, 4096).status, KernelCopyStatus::Unsupported);
    const KernelCopyResult whole = copy_in_kernel(source, 0, destination, 3, 6000);
    if (whole.status == KernelCopyStatus::Unsupported) {
        GTEST_SKIP() << "no in-kernel copy between files in " << fs::temp_directory_path() << " here";
    }
    EXPECT_EQ(whole.status, KernelCopyStatus::Copied);
    EXPECT_EQ(whole.copied, 6000U);
    const KernelCopyResult past_end = copy_in_kernel(source, 6000, destination, 6003, 8000);
    EXPECT_EQ(past_end.status, KernelCopyStatus::EndOfSource);
    EXPECT_EQ(past_end.copied, 4000U);
    test::Bytes back(10003);
    EXPECT_EQ(read_at(destination, 0, back), 10003);
    EXPECT_EQ(test::Bytes(back.begin() + 3, back.end()), bytes);
}

// The destination of these copies, as of the output file: neither a taken
// name nor a link, dangling or not, is opened, so nothing is written through.
TEST(CreateExclusive, RefusesATakenNameAndALink)
{
    const test::ScratchDirectory scratch;
    const fs::path& directory = scratch.path;
    fs::create_symlink(directory / "nowhere", directory / "link");
    EXPECT_TRUE(create_exclusive(directory / "new").is_open());
    for (const char* taken : {"new", "link"}) {
        errno = 0;
        EXPECT_FALSE(create_exclusive(directory / taken).is_open()) << taken;
        EXPECT_EQ(errno, EEXIST) << taken;
    }
    EXPECT_FALSE(fs::exists(directory / "nowhere"));
}

// Windows' rule, on the values FindFirstFileW gives (attributes, tag): only a
// name surrogate is a link, so every program follows or refuses the same names.
TEST(WindowsEntryKind, OnlyANameSurrogateIsALink)
{
    struct Case {
        const char* what;
        std::uint32_t attributes;
        std::uint32_t tag;
        WindowsEntryKind kind;
    };
    const Case cases[] = {
        {"file", 0x20, 0, WindowsEntryKind::File},
        {"folder", 0x10, 0, WindowsEntryKind::Directory},
        {"tag without a reparse point", 0x20, 0xA000000C, WindowsEntryKind::File},
        {"symbolic link", 0x420, 0xA000000C, WindowsEntryKind::Link},
        {"junction", 0x410, 0xA0000003, WindowsEntryKind::Link},
        {"WSL link", 0x420, 0xA000001D, WindowsEntryKind::Link},
        {"cloud file", 0x420, 0x9000001A, WindowsEntryKind::File},
        {"cloud folder", 0x410, 0x9000001A, WindowsEntryKind::Directory},
        {"deduplicated file", 0x420, 0x80000013, WindowsEntryKind::File},
        {"WOF-compressed file", 0x420, 0x80000017, WindowsEntryKind::File},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(windows_entry_kind(c.attributes, c.tag), c.kind) << c.what;
    }
}

}  // namespace
}  // namespace quarnel
