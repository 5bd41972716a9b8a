#include <new>
#include <span>

#include "convert/quarnel_messages.h"
#include "io/console.h"
#include "io/platform.h"
#include "io/startup.h"
#include "main/command_line.h"

#ifdef _WIN32
// Wide arguments, so that paths in any script reach the program intact.
int wmain(int argc, wchar_t** argv)
#elif defined(__linux__)
int main(int argc, char** argv)
#endif
{
    // Before anything is opened or printed; without its standard descriptors
    // the process has nowhere to report.
    if (quarnel::prepare_process() != 0) {
        return -1;
    }
    // Allocation policy: containers are used freely and running out of memory
    // throws std::bad_alloc, caught here alone. The unwinding has run every
    // destructor (the temporary file is gone, the reader's thread joined)
    // before the message prints. Nothing else is expected to throw.
    try {
        return quarnel::run_quarnel(std::span<const quarnel::ArgChar* const>(argv, static_cast<std::size_t>(argc)));
    } catch (const std::bad_alloc&) {
        return quarnel::console::fail(quarnel::messages::kUnableToAllocate);
    }
}
