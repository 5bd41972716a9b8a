#include <gtest/gtest.h>

#include <set>
#include <string_view>

#include "inspect/inspect_messages.h"

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

}  // namespace
}  // namespace quarnel
