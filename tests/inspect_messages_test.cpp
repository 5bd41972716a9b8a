#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "inspect/inspect_messages.h"

namespace quarnel {
namespace {

// Walks kAllFaults, which the build keeps complete: a fault added later and
// left without its words fails here.
TEST(InspectMessages, EveryFaultHasItsOwnErrorLine)
{
    const std::map<ImageFault, std::string_view> expected = {
        {ImageFault::ReadFailed, "Error: unable to read image file.\n"},
        {ImageFault::Truncated, "Error: image file is truncated.\n"},
        {ImageFault::PrologueNotZero, "Error: image prologue is not zero.\n"},
        {ImageFault::BadMagic, "Error: record header has a wrong magic number.\n"},
        {ImageFault::UnexpectedField, "Error: record header field holds a value quarnel never writes.\n"},
        {ImageFault::BadHeaderChecksum, "Error: record header checksum does not match.\n"},
        {ImageFault::BadHeaderLength, "Error: record header length is invalid.\n"},
        {ImageFault::TableMismatch, "Error: checksum table does not fit the payload length.\n"},
        {ImageFault::BadBlockChecksum, "Error: block checksum does not match.\n"},
        {ImageFault::TrailingData, "Error: data follows the image record.\n"},
        {ImageFault::BadSignatureRecord, "Error: signature record is missing or malformed.\n"},
        {ImageFault::BadImageRecord, "Error: image record is missing or malformed.\n"},
        {ImageFault::MixedModels, "Error: record type codes name different models.\n"},
        {ImageFault::VolumeCutShort, "Error: disc volume is larger than the payload, the ISO was cut short.\n"},
    };
    std::set<std::string_view> descriptions;
    for (ImageFault fault : kAllFaults) {
        const auto entry = expected.find(fault);
        ASSERT_NE(entry, expected.end()) << "fault " << static_cast<int>(fault) << " has no expected text";
        const std::string_view description = inspect_messages::fault_description(fault);
        EXPECT_EQ(inspect_messages::fault_message(fault), entry->second);
        EXPECT_EQ("Error: " + std::string(description) + ".\n", entry->second);
        EXPECT_TRUE(descriptions.insert(description).second) << description;
    }
    EXPECT_EQ(expected.size(), kAllFaults.size());
    EXPECT_EQ(inspect_messages::fault_description(ImageFault::None), "");
    EXPECT_EQ(inspect_messages::fault_message(ImageFault::None), "");
}

TEST(InspectMessages, DeviationsNameTheFieldTheValueFoundAndTheValueWritten)
{
    const auto deviation = [](std::size_t record, HeaderField field, std::uint64_t number, std::string text = {}) {
        ImageReport report;
        report.fault = ImageFault::UnexpectedField;
        report.deviation = FieldDeviation{record, field, number, std::move(text)};
        return report;
    };
    using namespace std::string_literals;
    const std::pair<ImageReport, std::string_view> cases[] = {
        {deviation(1, HeaderField::BlockSize, 2048), "Error: image record's block_size is 2048, not 4096.\n"},
        {deviation(0, HeaderField::PayloadLength, 64), "Error: signature record's payload_length is 64, not 128.\n"},
        {deviation(1, HeaderField::PayloadLength, 1000),
         "Error: image record's payload_length is 1000, not a whole number of 2048-byte sectors below 2 GiB.\n"},
        {deviation(0, HeaderField::FixedOne, 2), "Error: signature record's fixed_one is 2, not 1.\n"},
        {deviation(1, HeaderField::Zero96, 7), "Error: image record's zero field at 96 is 7, not 0.\n"},
        {deviation(1, HeaderField::DateText, 0, "2008.06.15\0\0\0\0\0\0"s),
         "Error: image record's date_text is \"2008.06.15\", not \"2008.06.14\".\n"},
        // The zero fill is part of the field: a stray byte in it shows, and so does a control character.
        {deviation(0, HeaderField::LabelText, 0, "INPUT\0x\x1b\0"s),
         "Error: signature record's label_text is \"INPUT\\x00x\\x1B\", not \"INPUT\".\n"},
        {deviation(1, HeaderField::IdentText, 0, "HWEW11.2"), "Error: image record's ident_text is \"HWEW11.2\", not "
                                                              "\"HWEW11.1\".\n"},
        {deviation(1, HeaderField::TimeText, 0, std::string(16, '\0')),
         "Error: image record's time_text is \"\", not \"21.13.06\".\n"},
    };
    for (const auto& [report, expected] : cases) {
        EXPECT_EQ(inspect_messages::fault_message(report), expected);
    }
    ImageReport other;
    other.fault = ImageFault::TrailingData;
    EXPECT_EQ(inspect_messages::fault_message(other), "Error: data follows the image record.\n");
}

}  // namespace
}  // namespace quarnel
