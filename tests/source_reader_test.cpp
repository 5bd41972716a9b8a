#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>
#include <vector>

#include "convert/source_reader.h"
#include "image/checksum.h"
#include "image/header_area.h"
#include "support/expected_image.h"

namespace quarnel {
namespace {

namespace fs = std::filesystem;

struct Collected {
    int result = 0;
    test::Bytes data;
    test::Bytes table;
};

// Everything the reader hands out, with or without its read-ahead thread.
Collected read_all(const fs::path& path, std::uint64_t claimed_length, bool read_ahead)
{
    const FileHandle source = open_measurable_source(path);
    std::vector<std::uint8_t> table(2 * block_count_for(claimed_length), 0);
    SourceReader reader(source, claimed_length, table);
    Collected collected;
    if (read_ahead) {
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
    collected.table = table;
    return collected;
}

class SourceReaderTest : public ::testing::Test {
protected:
    void SetUp() override { path_ = fs::temp_directory_path() / ("quarnel-reader-" + std::to_string(::getpid())); }
    void TearDown() override { fs::remove(path_); }
    fs::path path_;
};

TEST_F(SourceReaderTest, HandsOutTheSourceAndItsChecksumsInEitherMode)
{
    for (std::size_t length : {0UL, 2048UL, 4096UL, (1UL << 20) - 2048, 1UL << 20, (5UL << 20) + 6144}) {
        const test::Bytes source = test::random_bytes(length, static_cast<unsigned>(length));
        test::write_file(path_.string(), source);
        const test::Bytes expected_table = [&] {
            test::Bytes image = test::expected_image(source, test::Model::Default);
            return test::Bytes(image.begin() + kImageTableOffset, image.end() - static_cast<std::ptrdiff_t>(length));
        }();
        for (bool read_ahead : {false, true}) {
            const Collected collected = read_all(path_, length, read_ahead);
            EXPECT_EQ(collected.result, 0);
            EXPECT_EQ(collected.data, source) << length << (read_ahead ? " with" : " without") << " read-ahead";
            EXPECT_EQ(collected.table, expected_table) << length;
        }
    }
}

TEST_F(SourceReaderTest, SourceShorterThanClaimedFails)
{
    test::write_file(path_.string(), test::random_bytes(3 << 20, 4));
    for (std::uint64_t claimed : {(3ULL << 20) + 2048, 8ULL << 20}) {
        for (bool read_ahead : {false, true}) {
            EXPECT_EQ(read_all(path_, claimed, read_ahead).result, -1) << claimed;
        }
    }
}

}  // namespace
}  // namespace quarnel
