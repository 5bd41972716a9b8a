// Unpredictable bits from the system's source, for names nobody may guess.
// The fallback is shared (random.cpp); the source has a file per system
// (random_linux.cpp, random_windows.cpp).
#pragma once

#include <cstdint>

namespace quarnel {

// rand_s on Windows, getrandom on Linux; before the kernel's pool is ready,
// the clock, the process and a count, well mixed.
std::uint64_t random_bits();

// Between random.cpp and its system's file alone.
namespace random_system {
// The system's bits, or false before its source is ready.
bool system_random_bits(std::uint64_t& bits);
std::uint64_t process_number();
}  // namespace random_system

}  // namespace quarnel
