#include "console/console.h"

#include <cstdio>
#include <string>
#include <utility>

#include "platform/console_stream.h"

namespace quarnel::console {
namespace {

std::function<void()>& transient_eraser()
{
    static std::function<void()> eraser;
    return eraser;
}

void erase_transient()
{
    if (transient_eraser()) {
        transient_eraser()();
    }
}

}  // namespace

void print_transient(std::string_view text)
{
    (void)std::fwrite(text.data(), 1, text.size(), stderr);
    (void)std::fflush(stderr);
}

void set_transient_eraser(std::function<void()> eraser) { transient_eraser() = std::move(eraser); }

void print(std::string_view message)
{
    erase_transient();
    // Where standard error itself fails there is nowhere left to report it.
    (void)write_text(stderr, message);
}

int fail(std::string_view message)
{
    print(message);
    return -1;
}

int write_standard_output(std::string_view text)
{
    erase_transient();
    return write_text(stdout, text) ? 0 : -1;
}

}  // namespace quarnel::console
