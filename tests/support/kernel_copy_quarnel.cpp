// quarnel with the in-kernel copy forced, as between two files on one file
// server, so that the end-to-end tests cover both paths on a local disk.
#include <new>
#include <span>

#include "convert/quarnel_messages.h"
#include "io/console.h"
#include "io/startup.h"
#include "main/command_line.h"

int main(int argc, char** argv)
{
    if (quarnel::prepare_process() != 0) {
        return -1;
    }
    try {
        return quarnel::run_quarnel(std::span<const quarnel::ArgChar* const>(argv, static_cast<std::size_t>(argc)),
                                    quarnel::CopyMethod::Kernel);
    } catch (const std::bad_alloc&) {
        return quarnel::console::fail(quarnel::messages::kUnableToAllocate);
    }
}
