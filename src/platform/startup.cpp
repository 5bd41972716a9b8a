#include "platform/startup.h"

namespace quarnel {
namespace {

// Each standard stream's descriptor stays in use, so that a file opened later
// cannot be handed its number.
[[nodiscard]] int open_standard_descriptors()
{
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (startup_system::is_closed(descriptor) && startup_system::open_null_device_as(descriptor) != 0) {
            return -1;
        }
    }
    return 0;
}

}  // namespace

int prepare_process()
{
    const int opened = open_standard_descriptors();
    startup_system::ignore_write_signals();
    (void)new_file_permissions();
    return opened;
}

unsigned new_file_permissions()
{
    static const unsigned permissions = startup_system::read_new_file_permissions();
    return permissions;
}

}  // namespace quarnel
