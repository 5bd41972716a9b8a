#include <gtest/gtest.h>

#include <vector>

#include "main/command_line.h"

namespace quarnel {
namespace {

std::optional<ConversionRequest> parse(std::vector<const char*> arguments)
{
    arguments.insert(arguments.begin(), "quarnel");
    return parse_command_line(arguments);
}

TEST(CommandLine, RejectedForms)
{
    const std::vector<std::vector<const char*>> rejected = {
        {},
        {"a.iso"},
        {"/model:E220", "a.iso", "b.bin", "extra"},
        {"a.iso", "/model:E220", "b.bin"},
        {"-model:E220", "a.iso", "b.bin"},
        {"/model=E220", "a.iso", "b.bin"},
        {"/mode:E220", "a.iso", "b.bin"},
        {"", "a.iso", "b.bin"},
    };
    for (const auto& arguments : rejected) {
        EXPECT_FALSE(parse(arguments)) << arguments.size() << " arguments";
    }
}

TEST(CommandLine, ModelOption)
{
    struct Case {
        const char* option;
        ModemModel model;
    };
    const Case cases[] = {
        {"/model:e220", ModemModel::E220},  {"/MODEL:E220", ModemModel::E220},   {"/Model:E220", ModemModel::E220},
        {"/model:E2200", ModemModel::E220}, {"/model:e220x", ModemModel::E220},  {"/model:E172", ModemModel::Default},
        {"/model:", ModemModel::Default},   {"/model:E22", ModemModel::Default}, {"/model: E220", ModemModel::Default},
    };
    for (const Case& c : cases) {
        const auto request = parse({c.option, "in.iso", "out.bin"});
        ASSERT_TRUE(request) << c.option;
        EXPECT_EQ(request->model, c.model) << c.option;
        EXPECT_EQ(request->source, "in.iso");
        EXPECT_EQ(request->destination, "out.bin");
    }
}

TEST(CommandLine, TwoArgumentsAreTakenAsPathsUnchanged)
{
    const auto request = parse({"/model:E220", "Out Dir/b.bin"});
    ASSERT_TRUE(request);
    EXPECT_EQ(request->source, "/model:E220");
    EXPECT_EQ(request->destination, "Out Dir/b.bin");
    EXPECT_EQ(request->model, ModemModel::Default);
}

}  // namespace
}  // namespace quarnel
