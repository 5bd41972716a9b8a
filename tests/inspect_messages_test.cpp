#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <string_view>

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

}  // namespace
}  // namespace quarnel
