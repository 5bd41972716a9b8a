#include "platform/startup.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "platform/platform.h"

#ifdef _WIN32
#include <io.h>
#elif defined(__linux__)
#include <cerrno>
#include <csignal>
#include <unistd.h>
#endif

namespace quarnel {
namespace {

// Whether a standard descriptor is closed: _get_osfhandle on Windows, fcntl
// (EBADF) on Linux.
bool is_closed(int descriptor)
{
#ifdef _WIN32
    return ::_get_osfhandle(descriptor) < 0;
#elif defined(__linux__)
    return ::fcntl(descriptor, F_GETFD) == -1 && errno == EBADF;
#endif
}

// Opens the null device as the closed standard `descriptor`; 0 / -1.
[[nodiscard]] int open_null_device_as(int descriptor)
{
#ifdef _WIN32
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
#elif defined(__linux__)
    // The lowest free descriptor is the one a new open gets, so going up from
    // 0 fills exactly the closed ones; elsewhere than expected only when
    // another opened it meanwhile, and the process ends anyway.
    return ::open("/dev/null", O_RDWR | O_NOCTTY) == descriptor ? 0 : -1;
#endif
}

// Each standard stream's descriptor stays in use, so that a file opened later
// cannot be handed its number.
[[nodiscard]] int open_standard_descriptors()
{
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (is_closed(descriptor) && open_null_device_as(descriptor) != 0) {
            return -1;
        }
    }
    return 0;
}

// 0666 less the file-creation mask; Windows has none that applies.
unsigned read_new_file_permissions()
{
#ifdef _WIN32
    return 0666U;
#elif defined(__linux__)
    // The mask can only be read by setting it.
    const mode_t mask = ::umask(077);
    (void)::umask(mask);
    return 0666U & ~static_cast<unsigned>(mask);
#endif
}

// A write that cannot be done (a closed pipe, a file-size limit) becomes a
// write error rather than the end of the process. Windows raises no signal
// for it.
void ignore_write_signals()
{
#ifdef __linux__
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    (void)::sigaction(SIGPIPE, &ignore, nullptr);
    (void)::sigaction(SIGXFSZ, &ignore, nullptr);
#endif
}

}  // namespace

int prepare_process()
{
    const int opened = open_standard_descriptors();
    ignore_write_signals();
    (void)new_file_permissions();
    return opened;
}

unsigned new_file_permissions()
{
    static const unsigned permissions = read_new_file_permissions();
    return permissions;
}

}  // namespace quarnel
