#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>

#include "inspect/inspect_messages.h"
#include "pack/pack_messages.h"

namespace quarnel {
namespace {

// Walks kAllFaults, which the build keeps complete: a fault added later and
// left without words of its own fails here. The words themselves are checked
// where the programs print them, in the end-to-end tests.
TEST(InspectMessages, EveryFaultHasItsOwnErrorLine)
{
    std::set<std::string_view> descriptions;
    for (ImageFault fault : kAllFaults) {
        const std::string_view description = inspect_messages::fault_description(fault);
        EXPECT_FALSE(description.empty()) << static_cast<int>(fault);
        EXPECT_TRUE(descriptions.insert(description).second) << description;
    }
    EXPECT_EQ(inspect_messages::fault_message(ImageFault::None), "");
}

// The same for the disc's tree, the unpacking and quarnel-pack's refusals:
// each kind an error line of its own.
TEST(InspectMessages, EveryDiscFaultUnpackFailureAndRefusalHasItsOwnLine)
{
    std::set<std::string> lines;
    const auto own = [&lines](const std::string& line) {
        EXPECT_TRUE(line.starts_with("Error: ") && line.ends_with(".\n")) << line;
        EXPECT_TRUE(lines.insert(line).second) << line;
    };
    for (int kind = 1; kind <= static_cast<int>(disc::DiscFaultKind::TooLarge); ++kind) {
        own(inspect_messages::disc_fault_message({static_cast<disc::DiscFaultKind>(kind), false, false, {}}));
    }
    for (int failure = 1; failure <= static_cast<int>(UnpackFailure::WriteFailed); ++failure) {
        own(inspect_messages::unpack_failure_message({static_cast<UnpackFailure>(failure), "a/b"}, "out"));
    }
    own(inspect_messages::unpack_failure_message({UnpackFailure::CannotCreate, {}}, "out"));
    for (int kind = 0; kind <= static_cast<int>(disc::RefusalKind::LabelTooLong); ++kind) {
        own(pack_messages::refusal({static_cast<disc::RefusalKind>(kind), "a", "b"}, "f"));
    }
}

}  // namespace
}  // namespace quarnel
