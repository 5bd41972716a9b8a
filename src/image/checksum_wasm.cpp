// The WebAssembly kernel: the byte-lane kernel (checksum_lanes.h) on 128-bit
// SIMD vectors, whose swizzle looks up sixteen table entries at once. Built
// with -msimd128 into the page's second module alone: an engine without SIMD
// refuses a module that holds any, and takes the first, which lacks it.
#include "image/checksum.h"

#if defined(__wasm_simd128__)

#include <wasm_simd128.h>

#include <array>

#include "image/checksum_lanes.h"

namespace quarnel {
namespace {

struct VectorLanes {
    using Type = v128_t;

    static Type load(const std::uint8_t* p) { return wasm_v128_load(p); }
    static void store(std::uint8_t* p, Type v) { wasm_v128_store(p, v); }
    static Type zero() { return wasm_i64x2_splat(0); }
    // Lanes 0 and 1 are the low 16 bits of the first 32-bit lane, low byte first.
    static Type with_state(Type v, std::uint16_t state) { return wasm_v128_xor(v, wasm_i32x4_make(state, 0, 0, 0)); }
    static Type table(const crc::NibbleTable& entries) { return wasm_v128_load(entries.data()); }
    static Type lookup(Type table, Type index) { return wasm_i8x16_swizzle(table, index); }
    static Type low_nibbles(Type v) { return wasm_v128_and(v, wasm_i8x16_splat(0x0F)); }
    // A 16-bit shift and a mask: engines build a byte shift of several steps.
    static Type high_nibbles(Type v) { return wasm_v128_and(wasm_u16x8_shr(v, 4), wasm_i8x16_splat(0x0F)); }
    static Type sum(Type a, Type b) { return wasm_v128_xor(a, b); }
};

}  // namespace

// The kernel's tables as data it loads, not as constants: a step's 36 tables
// are more than the vector registers, and as constants Chromium ran the step
// at two thirds of the speed. Not const, so that no compiler folds the loads
// into constants again.
crc::StepTables wasm_step_tables = crc::kStepTables;

namespace {

std::uint16_t block_checksum_simd128(std::span<const std::uint8_t> bytes)
{
    return crc::checksum_with<crc::continue_lanes<VectorLanes, wasm_step_tables>>(bytes);
}

constexpr std::array<ChecksumKernel, 1> kKernels = {{{"simd128", "WebAssembly SIMD", block_checksum_simd128, true}}};

}  // namespace

std::span<const ChecksumKernel> checksum_kernels() { return kKernels; }

}  // namespace quarnel

#endif
