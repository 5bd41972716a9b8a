// quarnel with the in-kernel copy forced, as between two files on one file
// server, so that the end-to-end tests cover both paths on a local disk.
#include "console/console.h"
#include "convert/convert_messages.h"
#include "main/command_line.h"
#include "main/entry_point.h"

namespace {

int run_with_kernel_copy(std::span<const quarnel::ArgChar* const> arguments)
{
    quarnel::console::print(quarnel::messages::banner_text());
    auto request = quarnel::parse_command_line(arguments);
    if (request) {
        request->copy_method = quarnel::CopyMethod::Kernel;
    }
    return quarnel::run_request(std::move(request), quarnel::messages::kUsage, quarnel::convert_image);
}

}  // namespace

QUARNEL_MAIN
{
    return quarnel::run_program(QUARNEL_ARGUMENTS, run_with_kernel_copy, quarnel::messages::kUnableToAllocate);
}
