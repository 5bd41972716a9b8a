#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/startup.h"

namespace quarnel {

bool startup_system::is_closed(int descriptor) { return ::fcntl(descriptor, F_GETFD) == -1 && errno == EBADF; }

// The lowest free descriptor is the one a new open gets, so going up from 0
// fills exactly the closed ones; elsewhere than expected only when another
// opened it meanwhile, and the process ends anyway.
int startup_system::open_null_device_as(int descriptor)
{
    return ::open("/dev/null", O_RDWR | O_NOCTTY) == descriptor ? 0 : -1;
}

// The mask can only be read by setting it.
unsigned startup_system::read_new_file_permissions()
{
    const mode_t mask = ::umask(077);
    (void)::umask(mask);
    return 0666U & ~static_cast<unsigned>(mask);
}

void startup_system::ignore_write_signals()
{
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    (void)::sigaction(SIGPIPE, &ignore, nullptr);
    (void)::sigaction(SIGXFSZ, &ignore, nullptr);
}

}  // namespace quarnel
