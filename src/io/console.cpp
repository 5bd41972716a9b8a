#include "io/console.h"

#include <cstdio>

namespace quarnel::console {

void print(std::string_view message)
{
    // Where standard error itself fails there is nowhere left to report it.
    (void)std::fwrite(message.data(), 1, message.size(), stderr);
    (void)std::fflush(stderr);
}

int fail(std::string_view message)
{
    print(message);
    return -1;
}

}  // namespace quarnel::console
