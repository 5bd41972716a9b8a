#include <fcntl.h>
#include <io.h>

#include "platform/startup.h"

namespace quarnel {

bool startup_system::is_closed(int descriptor) { return ::_get_osfhandle(descriptor) < 0; }

int startup_system::open_null_device_as(int descriptor)
{
    const int null_device = ::_open("NUL", _O_RDWR | _O_BINARY);
    if (null_device < 0) {
        return -1;
    }
    if (null_device != descriptor) {
        const int duplicated = ::_dup2(null_device, descriptor);
        ::_close(null_device);
        if (duplicated != 0) {
            return -1;
        }
    }
    return 0;
}

// No file-creation mask applies.
unsigned startup_system::read_new_file_permissions() { return 0666U; }

// Windows raises no signal for a write that cannot be done.
void startup_system::ignore_write_signals() {}

}  // namespace quarnel
