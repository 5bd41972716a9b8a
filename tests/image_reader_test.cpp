#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "image/checksum.h"
#include "image/image_reader.h"
#include "support/expected_image.h"
#include "support/image_bytes.h"

namespace quarnel {
namespace {

using test::Bytes;

constexpr std::size_t kSignature = 92;
constexpr std::size_t kImage = 320;

class CollectingSink final : public PayloadSink {
public:
    int write(std::span<const std::uint8_t> bytes) override
    {
        collected.insert(collected.end(), bytes.begin(), bytes.end());
        return 0;
    }
    Bytes collected;
};

ImageReport read(const Bytes& image, PayloadSink* sink = nullptr)
{
    MemoryImageSource source(image);
    return read_image(source, sink);
}

using test::put16;
using test::put32;
using test::reseal;

TEST(ImageReader, ValidImagesOfBothModels)
{
    for (const auto& [model, expected] :
         {std::pair{test::Model::Default, ModemModel::Default}, std::pair{test::Model::E220, ModemModel::E220}}) {
        for (std::size_t length : {0UL, 2048UL, 10240UL, (3UL << 20) + 2048}) {
            const Bytes source = test::random_bytes(length, static_cast<unsigned>(length));
            CollectingSink sink;
            const ImageReport report = read(test::expected_image(source, model), &sink);
            ASSERT_TRUE(report.valid()) << "fault " << static_cast<int>(report.fault);
            EXPECT_EQ(report.model, expected);
            ASSERT_EQ(report.records.size(), 2U);
            EXPECT_EQ(report.records[1].table_entries, (length + 4095) / 4096);
            EXPECT_EQ(sink.collected, source);
            EXPECT_EQ(signature_text(report.records[0].payload_head),
                      "zarvotellion_custom_iso\nhttps://quarnel.example.org\n");
        }
    }
}

TEST(ImageReader, EveryKindOfDamageIsCaught)
{
    struct Case {
        std::string what;
        std::function<void(Bytes&)> damage;
        ImageFault expected;
    };
    const auto flip = [](std::size_t at) { return [at](Bytes& image) { image[at] ^= 0x01; }; };
    std::vector<Case> cases = {
        {"empty file", [](Bytes& image) { image.clear(); }, ImageFault::Truncated},
        {"prologue alone", [](Bytes& image) { image.resize(92); }, ImageFault::BadSignatureRecord},
        {"prologue byte", flip(5), ImageFault::PrologueNotZero},
        {"last byte cut", [](Bytes& image) { image.pop_back(); }, ImageFault::Truncated},
        {"half a header", [](Bytes& image) { image.resize(kImage + 50); }, ImageFault::Truncated},
        {"signature record alone", [](Bytes& image) { image.resize(kImage); }, ImageFault::BadImageRecord},
        {"byte appended", [](Bytes& image) { image.push_back(0); }, ImageFault::TrailingData},
        {"signature table entry", flip(190), ImageFault::BadBlockChecksum},
        {"signature block text", flip(200), ImageFault::BadBlockChecksum},
        {"image table entry", flip(419), ImageFault::BadBlockChecksum},
        {"payload byte", flip(424 + 9000), ImageFault::BadBlockChecksum},
    };
    struct Field {
        std::string name;
        std::size_t offset;
        ImageFault expected;
    };
    const Field fields[] = {
        {"magic", 0, ImageFault::BadMagic},
        {"header_length", 4, ImageFault::BadHeaderChecksum},
        {"fixed_one", 8, ImageFault::UnexpectedField},
        {"zero at 10", 10, ImageFault::UnexpectedField},
        {"ident_text", 12, ImageFault::UnexpectedField},
        {"zero at 20", 20, ImageFault::UnexpectedField},
        {"type_code", 22, ImageFault::BadHeaderChecksum},
        {"payload_length", 24, ImageFault::UnexpectedField},
        {"date_text", 28, ImageFault::UnexpectedField},
        {"date_text fill", 40, ImageFault::UnexpectedField},
        {"time_text", 44, ImageFault::UnexpectedField},
        {"time_text fill", 58, ImageFault::UnexpectedField},
        {"label_text", 60, ImageFault::UnexpectedField},
        {"label_text fill", 90, ImageFault::UnexpectedField},
        {"header_checksum", 92, ImageFault::BadHeaderChecksum},
        {"block_size", 94, ImageFault::UnexpectedField},
        {"zero at 96", 96, ImageFault::UnexpectedField},
    };
    for (const Field& field : fields) {
        for (std::size_t record : {kSignature, kImage}) {
            cases.push_back({field.name + " of the record at " + std::to_string(record), flip(record + field.offset),
                             field.expected});
        }
    }
    // Damage behind a valid header checksum: each structural check on its own.
    const auto resealed = [](std::size_t record, std::size_t at, std::uint32_t value, int width) {
        return [=](Bytes& image) {
            width == 4 ? put32(image, record + at, value) : put16(image, record + at, value);
            reseal(image, record);
        };
    };
    const std::vector<Case> structural = {
        {"odd table size", resealed(kImage, 4, 105, 4), ImageFault::BadHeaderLength},
        {"header shorter than a header", resealed(kImage, 4, 96, 4), ImageFault::BadHeaderLength},
        {"header length of 4 GiB", resealed(kImage, 4, 0xFFFFFFFE, 4), ImageFault::Truncated},
        {"payload of 4 GiB less a sector", resealed(kImage, 24, 0xFFFFF800, 4), ImageFault::UnexpectedField},
        {"table one entry short", resealed(kImage, 4, 102, 4), ImageFault::TableMismatch},
        {"largest payload quarnel writes, missing", resealed(kImage, 24, 0x7FFFF800, 4), ImageFault::Truncated},
        {"unknown signature type", resealed(kSignature, 22, 0x1234, 2), ImageFault::BadSignatureRecord},
        {"two signature records", resealed(kImage, 22, 0xF200, 2), ImageFault::BadImageRecord},
        {"models mixed", resealed(kImage, 22, 0x000B, 2), ImageFault::MixedModels},
    };
    cases.insert(cases.end(), structural.begin(), structural.end());

    const Bytes valid = test::expected_image(test::random_bytes(10240, 1), test::Model::E220);
    for (const Case& c : cases) {
        Bytes image = valid;
        c.damage(image);
        const ImageReport report = read(image);
        EXPECT_EQ(report.fault, c.expected) << c.what << ": got fault " << static_cast<int>(report.fault);
    }
}

// A payload of `sectors` sectors with a primary volume descriptor of `volume_sectors` at sector 16.
Bytes iso_payload(std::size_t sectors, std::uint32_t volume_sectors)
{
    Bytes payload(sectors * 2048, 0);
    const std::string_view head = "\x01"
                                  "CD001"
                                  "\x01";
    std::copy(head.begin(), head.end(), payload.begin() + 16 * 2048);
    put32(payload, 16 * 2048 + 80, volume_sectors);
    put16(payload, 16 * 2048 + 128, 2048);
    return payload;
}

// A damaged block is the first fault, before a disc cut short; the disc is still
// described. A disc whole, padded or cut short alone, or none, is
// Inspector.DiscInsideIsDescribedAndMustNotBeCutShort's and PayloadWithoutVolumeIsAWarningOnly's.
TEST(ImageReader, DamagedBlockComesBeforeTheDiscCutShort)
{
    Bytes damaged = test::expected_image(iso_payload(20, 21), test::Model::Default);
    damaged[500] ^= 1;
    const ImageReport both = read(damaged);
    EXPECT_EQ(both.fault, ImageFault::BadBlockChecksum);
    EXPECT_TRUE(both.disc && both.disc->iso9660);
}

// A source that fails once `reads_allowed` reads have been made, and a sink that refuses.
class FailingSource final : public ImageSource {
public:
    FailingSource(const Bytes& bytes, int reads_allowed) : inner_(bytes), reads_left_(reads_allowed) {}
    std::uint64_t size() const override { return inner_.size(); }
    std::int64_t read_at(std::uint64_t offset, std::span<std::uint8_t> buffer) override
    {
        return reads_left_-- > 0 ? inner_.read_at(offset, buffer) : -1;
    }

private:
    MemoryImageSource inner_;
    int reads_left_;
};

class RefusingSink final : public PayloadSink {
public:
    int write(std::span<const std::uint8_t>) override { return -1; }
};

TEST(ImageReader, ReadFailuresStopTheCheckAndSinkFailuresDoNot)
{
    const Bytes image = test::expected_image(test::random_bytes(8192, 6), test::Model::Default);
    // Reads: prologue, header, table, payload, then the same for the image record.
    for (int reads_allowed = 0; reads_allowed < 7; ++reads_allowed) {
        FailingSource source(image, reads_allowed);
        EXPECT_EQ(read_image(source, nullptr).fault, ImageFault::ReadFailed) << reads_allowed;
    }
    RefusingSink sink;
    MemoryImageSource source(image);
    const ImageReport refused = read_image(source, &sink);
    EXPECT_TRUE(refused.valid());
    EXPECT_TRUE(refused.payload_sink_failed);
    EXPECT_TRUE(refused.records[1].blocks_checked);
    EXPECT_EQ(refused.model, ModemModel::Default);
    std::array<std::uint8_t, 4> beyond{};
    EXPECT_EQ(source.read_at(image.size() + 10, beyond), 0);
}

TEST(ImageReader, SignatureTextMustBeTwoLinesAndZeroFill)
{
    const auto block = [](std::string_view text, std::size_t stray_at = 0) {
        Bytes bytes(128, 0);
        std::copy(text.begin(), text.end(), bytes.begin());
        if (stray_at != 0) {
            bytes[stray_at] = 'x';
        }
        return bytes;
    };
    EXPECT_EQ(signature_text(block("one\ntwo\n")), "one\ntwo\n");
    EXPECT_FALSE(signature_text(block("one\ntwo\n", 100)));
    EXPECT_FALSE(signature_text(block("one line\n")));
    EXPECT_FALSE(signature_text(block("one\ntwo")));
    EXPECT_FALSE(signature_text(block("a\nb\nc\n")));
    EXPECT_FALSE(signature_text(Bytes(128, 'x')));
}

}  // namespace
}  // namespace quarnel
