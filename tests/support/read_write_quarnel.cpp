// quarnel with the copy through memory forced, as on platforms without an
// in-kernel copy, so that the end-to-end tests cover both paths on Linux.
#include <new>
#include <span>

#include "convert/quarnel_messages.h"
#include "io/console.h"
#include "main/command_line.h"

int main(int argc, char** argv)
{
    try {
        return quarnel::run_quarnel(std::span<const quarnel::ArgChar* const>(argv, static_cast<std::size_t>(argc)),
                                    quarnel::CopyMethod::ReadWrite);
    } catch (const std::bad_alloc&) {
        return quarnel::console::fail(quarnel::messages::kUnableToAllocate);
    }
}
