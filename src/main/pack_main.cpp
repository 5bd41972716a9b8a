#include "main/entry_point.h"
#include "main/pack_command_line.h"
#include "pack/pack_messages.h"

QUARNEL_MAIN
{
    return quarnel::run_program(QUARNEL_ARGUMENTS, quarnel::run_quarnel_pack,
                                quarnel::pack_messages::kUnableToAllocate);
}
