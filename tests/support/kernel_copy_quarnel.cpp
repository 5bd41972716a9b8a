// quarnel with the in-kernel copy forced, as between two files on one file
// server, so that the end-to-end tests cover both paths on a local disk.
#include "convert/quarnel_messages.h"
#include "main/command_line.h"
#include "main/entry_point.h"

QUARNEL_MAIN
{
    quarnel::set_copy_method_for_tests(quarnel::CopyMethod::Kernel);
    return quarnel::run_program(QUARNEL_ARGUMENTS, quarnel::run_quarnel, quarnel::messages::kUnableToAllocate);
}
