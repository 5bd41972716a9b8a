// The block checksum of the modem image: CRC-16/X-25 (reflected polynomial
// 0x8408, initial value 0xFFFF, final complement). Check value: 0x906E.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "image/record_header.h"

namespace quarnel {

using ChecksumFunction = std::uint16_t (*)(std::span<const std::uint8_t> bytes);

// The fastest kernel this CPU can run, chosen once, on first use.
std::uint16_t block_checksum(std::span<const std::uint8_t> bytes);

// Checksums `data` block by block (the last block may be short) into the
// checksum table `table`, whose entry `first_block` takes the first block's.
void checksum_blocks(std::span<const std::uint8_t> data, std::uint64_t first_block, std::span<std::uint8_t> table,
                     std::size_t block_size = kBlockSize);

// The same with the portable implementation, several blocks at a time: what
// checksum_blocks runs where no kernel does (WebAssembly among others).
void checksum_blocks_portable(std::span<const std::uint8_t> data, std::uint64_t first_block,
                              std::span<std::uint8_t> table, std::size_t block_size = kBlockSize);

// One table lookup per byte: the definition every other implementation is tested against.
std::uint16_t block_checksum_reference(std::span<const std::uint8_t> bytes);

// Slicing by 16 tables; runs anywhere.
std::uint16_t block_checksum_portable(std::span<const std::uint8_t> bytes);

// A CPU-specific implementation built into this program.
struct ChecksumKernel {
    std::string_view name;
    std::string_view needs;  // the CPU features it runs on
    ChecksumFunction function;
    bool runnable;  // this CPU and operating system offer them
};

// Every CPU-specific kernel built for this architecture, fastest first,
// whether or not this CPU can run it.
std::span<const ChecksumKernel> checksum_kernels();

}  // namespace quarnel
