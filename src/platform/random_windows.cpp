#define _CRT_RAND_S  // rand_s, declared by <stdlib.h> only when asked for first
#include <process.h>
#include <stdlib.h>

#include "platform/random.h"

namespace quarnel {

bool random_system::system_random_bits(std::uint64_t& bits)
{
    unsigned high = 0;
    unsigned low = 0;
    if (::rand_s(&high) != 0 || ::rand_s(&low) != 0) {
        return false;
    }
    bits = (std::uint64_t{high} << 32) | low;
    return true;
}

std::uint64_t random_system::process_number() { return static_cast<std::uint64_t>(::_getpid()); }

}  // namespace quarnel
