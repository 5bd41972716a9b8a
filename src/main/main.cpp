#include "convert/convert_messages.h"
#include "main/command_line.h"
#include "main/entry_point.h"

QUARNEL_MAIN
{
    return quarnel::run_program(QUARNEL_ARGUMENTS, quarnel::run_quarnel, quarnel::messages::kUnableToAllocate);
}
