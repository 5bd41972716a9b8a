#include "inspect/inspect_messages.h"
#include "main/entry_point.h"
#include "main/inspect_command_line.h"

QUARNEL_MAIN
{
    return quarnel::run_program(QUARNEL_ARGUMENTS, quarnel::run_quarnel_inspect,
                                quarnel::inspect_messages::kUnableToAllocate);
}
