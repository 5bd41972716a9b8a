#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "image/disc_volume.h"
#include "support/image_bytes.h"

namespace quarnel {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kSector = 2048;
constexpr std::size_t kOffset = 424;  // where a payload starts in a small modem image

// A payload of `sectors` zero sectors placed after kOffset bytes of something else.
struct Payload {
    explicit Payload(std::size_t sectors) : bytes(kOffset + sectors * kSector, 0xEE)
    {
        std::fill(bytes.begin() + kOffset, bytes.end(), 0);
    }
    std::span<std::uint8_t> sector(std::size_t index)
    {
        return std::span(bytes).subspan(kOffset + index * kSector, kSector);
    }
    // A descriptor's type, identifier and version at the start of a sector.
    std::span<std::uint8_t> descriptor(std::size_t index, std::uint8_t type, std::string_view identifier,
                                       std::uint8_t version = 1)
    {
        const std::span<std::uint8_t> bytes = sector(index);
        bytes[0] = type;
        std::copy(identifier.begin(), identifier.end(), bytes.begin() + 1);
        bytes[6] = version;
        return bytes;
    }
    std::span<std::uint8_t> primary(std::size_t index, std::string_view label, std::uint32_t blocks)
    {
        const std::span<std::uint8_t> bytes = descriptor(index, 1, "CD001");
        std::fill(bytes.begin() + 40, bytes.begin() + 72, ' ');
        std::copy(label.begin(), label.end(), bytes.begin() + 40);
        test::put32(bytes, 80, blocks);
        for (std::size_t i = 0; i < 4; ++i) {
            bytes[84 + i] = static_cast<std::uint8_t>(blocks >> (24 - 8 * i));
        }
        test::put16(bytes, 128, 2048);
        bytes[130] = 0x08;
        return bytes;
    }
    DiscVolume read(std::uint64_t length = UINT64_MAX)
    {
        MemoryImageSource source(bytes);
        DiscVolume volume;
        EXPECT_EQ(read_disc_volume(source, kOffset, length == UINT64_MAX ? bytes.size() - kOffset : length, volume), 0);
        return volume;
    }
    Bytes bytes;
};

TEST(DiscVolume, EachKindOfDescriptorIsRecognised)
{
    struct Formats {
        bool iso9660 = false;
        bool joliet = false;
        bool el_torito = false;
        bool udf = false;
    };
    struct Case {
        std::string what;
        std::function<void(Payload&)> write;
        Formats expected;
        std::string_view label = "A";  // the primary volume's identifier, where there is one
    };
    const auto primary = [](Payload& p) { p.primary(16, "A", 30); };
    const auto supplementary = [&](std::string_view escapes) {
        return [=](Payload& p) {
            primary(p);
            const auto bytes = p.descriptor(17, 2, "CD001");
            std::copy(escapes.begin(), escapes.end(), bytes.begin() + 88);
        };
    };
    const std::vector<Case> cases = {
        {"nothing", [](Payload&) {}, Formats{}},
        {"Joliet level 1", supplementary("%/@"), Formats{.iso9660 = true, .joliet = true}},
        {"Joliet level 2", supplementary("%/C"), Formats{.iso9660 = true, .joliet = true}},
        {"Joliet level 3", supplementary("%/E"), Formats{.iso9660 = true, .joliet = true}},
        {"another supplementary", supplementary("%/F"), Formats{.iso9660 = true}},
        {"El Torito",
         [&](Payload& p) {
             const auto boot = p.descriptor(16, 0, "CD001");
             const std::string_view system = "EL TORITO ";
             std::copy(system.begin(), system.end(), boot.begin() + 7);
             p.primary(17, "A", 30);
         },
         Formats{.iso9660 = true, .el_torito = true}},
        {"another boot record", [&](Payload& p) { p.descriptor(16, 0, "CD001")[7] = 'X'; }, Formats{}},
        {"UDF bridge after the terminator",
         [&](Payload& p) {
             primary(p);
             p.descriptor(17, 255, "CD001");
             p.descriptor(18, 0, "BEA01");
             p.descriptor(19, 0, "NSR03");
             p.descriptor(20, 0, "TEA01");
         },
         Formats{.iso9660 = true, .udf = true}},
        {"UDF alone",
         [](Payload& p) {
             p.descriptor(16, 0, "BEA01");
             p.descriptor(17, 0, "NSR02");
             p.descriptor(18, 0, "TEA01");
         },
         Formats{.udf = true}},
        {"descriptors after TEA01 are not read",
         [](Payload& p) {
             p.descriptor(16, 0, "TEA01");
             p.primary(17, "A", 30);
         },
         Formats{}},
        {"a sector that is no descriptor ends the walk",
         [](Payload& p) {
             p.descriptor(16, 1, "CD002");
             p.primary(17, "A", 30);
         },
         Formats{}},
        {"a descriptor of another version ends the walk",
         [](Payload& p) {
             p.descriptor(16, 2, "CD001", 2);
             p.primary(17, "A", 30);
         },
         Formats{}},
        {"the second primary is not read",
         [](Payload& p) {
             p.primary(16, "FIRST", 30);
             p.primary(17, "SECOND", 31);
         },
         Formats{.iso9660 = true}, "FIRST"},
    };
    for (const Case& c : cases) {
        Payload payload(30);
        c.write(payload);
        const DiscVolume volume = payload.read();
        EXPECT_EQ(volume.iso9660, c.expected.iso9660) << c.what;
        EXPECT_EQ(volume.joliet, c.expected.joliet) << c.what;
        EXPECT_EQ(volume.el_torito, c.expected.el_torito) << c.what;
        EXPECT_EQ(volume.udf, c.expected.udf) << c.what;
        if (volume.iso9660) {
            EXPECT_EQ(volume.volume_identifier, c.label) << c.what;
        }
    }
}

TEST(DiscVolume, LittleEndianHalfCountsAndTheBigEndianTwinIsKept)
{
    Payload payload(20);
    const auto bytes = payload.primary(16, "", 20);
    bytes[87] = 21;                                        // big-endian half now says 21
    std::fill(bytes.begin() + 40, bytes.begin() + 72, 0);  // zero padding instead of spaces
    const DiscVolume volume = payload.read();
    EXPECT_EQ(volume.volume_blocks, 20U);
    EXPECT_EQ(volume.volume_blocks_big_endian, 21U);
    EXPECT_EQ(volume.block_size, 2048U);
    EXPECT_EQ(volume.volume_bytes(), 20U * 2048);
    EXPECT_EQ(volume.volume_identifier, "");
}

TEST(DiscVolume, NeverReadsPastThePayloadOrBeyondItsBound)
{
    Payload payload(17);
    payload.primary(16, "A", 17);
    EXPECT_TRUE(payload.read().iso9660);
    // The same bytes, but the payload ends a byte before the descriptor does.
    EXPECT_FALSE(payload.read(17 * kSector - 1).iso9660);
    EXPECT_FALSE(payload.read(0).found());
    // The bound of descriptors read is ReadFailureIsReportedAndReadsStayBounded's: 32 reads exactly.
}

class CountingFailingSource final : public ImageSource {
public:
    CountingFailingSource(const Bytes& bytes, int fail_at) : inner_(bytes), fail_at_(fail_at) {}
    std::uint64_t size() const override { return inner_.size(); }
    std::int64_t read_at(std::uint64_t offset, std::span<std::uint8_t> buffer) override
    {
        EXPECT_EQ(buffer.size(), kSector);
        return ++reads == fail_at_ ? -1 : inner_.read_at(offset, buffer);
    }
    int reads = 0;

private:
    MemoryImageSource inner_;
    int fail_at_;
};

TEST(DiscVolume, ReadFailureIsReportedAndReadsStayBounded)
{
    Payload payload(200);
    for (std::size_t i = 16; i < 200; ++i) {
        payload.descriptor(i, 3, "CD001");
    }
    CountingFailingSource unbounded(payload.bytes, 0);
    DiscVolume volume;
    EXPECT_EQ(read_disc_volume(unbounded, kOffset, 200 * kSector, volume), 0);
    EXPECT_EQ(unbounded.reads, 32);
    CountingFailingSource failing(payload.bytes, 3);
    EXPECT_EQ(read_disc_volume(failing, kOffset, 200 * kSector, volume), -1);
}

}  // namespace
}  // namespace quarnel
