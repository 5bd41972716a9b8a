// Unpredictable bits from the system's source, for names nobody may guess.
#pragma once

#include <cstdint>

namespace quarnel {

// rand_s on Windows, getrandom on Linux; before the kernel's pool is ready,
// the clock, the process and a count, well mixed.
std::uint64_t random_bits();

}  // namespace quarnel
