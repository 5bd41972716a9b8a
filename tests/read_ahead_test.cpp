#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>
#include <vector>

#include "image/checksum.h"
#include "image/header_area.h"
#include "platform/copy.h"
#include "platform/read_ahead.h"
#include "support/expected_image.h"

namespace quarnel {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kChunk = std::size_t{1} << 20;

struct Collected {
    int result = 0;
    test::Bytes data;
    test::Bytes table;
};

// Everything a read-ahead of the file hands over, checksummed on its thread
// as the converter does, with or without that thread.
Collected read_all(const fs::path& path, std::uint64_t claimed_length, bool threaded,
                   ReadAheadUse use = ReadAheadUse::HandOver)
{
    const FileHandle source = open_measurable_source(path);
    Collected collected;
    collected.table.assign(2 * block_count_for(claimed_length), 0);
    ReadAhead reader(
        claimed_length, kChunk,
        [&](std::uint64_t index, std::span<std::uint8_t> buffer) {
            const std::int64_t got = read_at(source, index * kChunk, buffer);
            if (got > 0) {
                checksum_blocks(buffer.first(static_cast<std::size_t>(got)), index * kChunk / kBlockSize,
                                collected.table);
            }
            return got;
        },
        use);
    if (threaded) {
        reader.start();
    }
    for (;;) {
        std::span<const std::uint8_t> chunk;
        collected.result = reader.next(chunk);
        if (collected.result != 0 || chunk.empty()) {
            break;
        }
        collected.data.insert(collected.data.end(), chunk.begin(), chunk.end());
    }
    return collected;
}

class ReadAheadTest : public ::testing::Test {
protected:
    test::ScratchDirectory scratch_;
    const fs::path path_ = scratch_.path / "source";
};

TEST_F(ReadAheadTest, HandsOverTheSourceAndItsChecksumsInEitherMode)
{
    for (std::size_t length : {0UL, 2048UL, 4096UL, (1UL << 20) - 2048, 1UL << 20, (5UL << 20) + 6144}) {
        const test::Bytes source = test::random_bytes(length, static_cast<unsigned>(length));
        test::write_file(path_.string(), source);
        const test::Bytes expected_table = test::checksum_table(source);
        for (ReadAheadUse use : {ReadAheadUse::HandOver, ReadAheadUse::Alternate}) {
            for (bool threaded : {false, true}) {
                const Collected collected = read_all(path_, length, threaded, use);
                EXPECT_EQ(collected.result, 0);
                EXPECT_EQ(collected.data, source) << length << (threaded ? " with" : " without") << " read-ahead";
                EXPECT_EQ(collected.table, expected_table) << length;
            }
        }
    }
}

// A chunk that comes back short is the last one handed over; one that fails is not handed over.
TEST_F(ReadAheadTest, EndsAtAShortChunkAndFailsAtAFailedOne)
{
    const test::Bytes source = test::random_bytes(3 << 20, 4);
    test::write_file(path_.string(), source);
    for (bool threaded : {false, true}) {
        for (std::uint64_t claimed : {(3ULL << 20) + 2048, 8ULL << 20}) {
            const Collected collected = read_all(path_, claimed, threaded, ReadAheadUse::Alternate);
            EXPECT_EQ(collected.result, 0) << claimed;
            EXPECT_EQ(collected.data, source) << claimed;
        }
        ReadAhead failing(3 * kChunk, kChunk, [](std::uint64_t index, std::span<std::uint8_t> buffer) {
            return index == 1 ? -1 : static_cast<std::int64_t>(buffer.size());
        });
        if (threaded) {
            failing.start();
        }
        std::span<const std::uint8_t> chunk;
        EXPECT_EQ(failing.next(chunk), 0);
        EXPECT_EQ(chunk.size(), kChunk);
        EXPECT_EQ(failing.next(chunk), -1);
        EXPECT_TRUE(chunk.empty());
    }
}

// Checking alone follows what it is allowed to read, chunk by chunk, and tells a failure.
TEST_F(ReadAheadTest, ChecksOnlyWhatItIsAllowedTo)
{
    for (bool threaded : {false, true}) {
        std::vector<std::uint64_t> read;
        ReadAhead checker((5 * kChunk) / 2, kChunk,
                          [&](std::uint64_t index, std::span<std::uint8_t> buffer) {
                              read.push_back(index);
                              return index == 2 ? -1 : static_cast<std::int64_t>(buffer.size());
                          },
                          ReadAheadUse::CheckOnly);
        if (threaded) {
            checker.start();
        }
        checker.allow(kChunk + 10);
        EXPECT_EQ(checker.wait_until_read(2 * kChunk - 1), 0);
        EXPECT_EQ(read, std::vector<std::uint64_t>{0});
        checker.allow(2 * kChunk);
        EXPECT_EQ(checker.wait_until_read(2 * kChunk), 0);
        EXPECT_EQ(read, (std::vector<std::uint64_t>{0, 1}));
        checker.allow(3 * kChunk);
        EXPECT_EQ(checker.wait_until_read(3 * kChunk), -1);
    }
}

}  // namespace
}  // namespace quarnel
