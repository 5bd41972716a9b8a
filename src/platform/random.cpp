#include "platform/random.h"

#include <chrono>

namespace quarnel {

std::uint64_t random_bits()
{
    if (std::uint64_t bits = 0; random_system::system_random_bits(bits)) {
        return bits;
    }
    // Only before the kernel's pool is ready, early in a boot. GCOVR_EXCL_START
    static std::uint64_t calls = 0;
    const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return (now ^ (random_system::process_number() << 32) ^ ++calls) * 0x9E3779B97F4A7C15U;
    // GCOVR_EXCL_STOP
}

}  // namespace quarnel
