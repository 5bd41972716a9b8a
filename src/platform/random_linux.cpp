#include <sys/random.h>
#include <unistd.h>

#include "platform/random.h"

namespace quarnel {

bool random_system::system_random_bits(std::uint64_t& bits)
{
    return ::getrandom(&bits, sizeof bits, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof bits);
}

// Used only by the fallback. GCOVR_EXCL_START
std::uint64_t random_system::process_number() { return static_cast<std::uint64_t>(::getpid()); }
// GCOVR_EXCL_STOP

}  // namespace quarnel
