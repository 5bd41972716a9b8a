#include "platform/platform.h"

#ifdef _WIN32
#define _CRT_RAND_S  // rand_s, declared by <stdlib.h> only when asked for first
#include <process.h>
#include <stdlib.h>
#elif defined(__linux__)
#include <sys/random.h>
#include <unistd.h>
#endif

#include <chrono>

#include "platform/random.h"

namespace quarnel {
namespace {

// The system's bits, or false before its source is ready.
bool system_random_bits(std::uint64_t& bits)
{
#ifdef _WIN32
    unsigned high = 0;
    unsigned low = 0;
    if (::rand_s(&high) != 0 || ::rand_s(&low) != 0) {
        return false;
    }
    bits = (std::uint64_t{high} << 32) | low;
    return true;
#elif defined(__linux__)
    return ::getrandom(&bits, sizeof bits, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof bits);
#endif
}

// Used only by the fallback below. GCOVR_EXCL_START
std::uint64_t process_number()
{
#ifdef _WIN32
    return static_cast<std::uint64_t>(::_getpid());
#elif defined(__linux__)
    return static_cast<std::uint64_t>(::getpid());
#endif
}
// GCOVR_EXCL_STOP

}  // namespace

std::uint64_t random_bits()
{
    if (std::uint64_t bits = 0; system_random_bits(bits)) {
        return bits;
    }
    // Only before the kernel's pool is ready, early in a boot. GCOVR_EXCL_START
    static std::uint64_t calls = 0;
    const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return (now ^ (process_number() << 32) ^ ++calls) * 0x9E3779B97F4A7C15U;
    // GCOVR_EXCL_STOP
}

}  // namespace quarnel
