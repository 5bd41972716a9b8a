// Carry-less-multiply checksums for x86-64; elsewhere none.
#pragma once

#include <span>

#include "image/checksum.h"

namespace quarnel::x86 {

// The implementations this CPU and its operating system can run, fastest first.
std::span<const ChecksumImplementation> supported_checksums();

}  // namespace quarnel::x86
