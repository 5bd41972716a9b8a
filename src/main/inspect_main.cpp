#include <new>
#include <span>

#include "inspect/inspect_messages.h"
#include "io/console.h"
#include "io/platform.h"
#include "io/startup.h"
#include "main/inspect_command_line.h"

#ifdef _WIN32
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
    // Allocation policy, as in quarnel: std::bad_alloc is caught here alone,
    // once the unwinding has removed any temporary extracted file.
    try {
        return quarnel::run_quarnel_inspect(
            std::span<const quarnel::ArgChar* const>(argv, static_cast<std::size_t>(argc)));
    } catch (const std::bad_alloc&) {
        return quarnel::console::fail(quarnel::inspect_messages::kUnableToAllocate);
    }
}
