// The aarch64 kernel: carry-less-multiply folding (see crc_fold.h) over
// 128-bit NEON vectors with PMULL, the polynomial multiply of the ARMv8
// cryptography extension.
#include "image/checksum.h"

#if defined(__aarch64__)

#include <arm_neon.h>
#if defined(__linux__)
#include <sys/auxv.h>
#endif

#include <array>

#include "image/crc_fold.h"

namespace quarnel {
namespace {

#define QUARNEL_TARGET_PMULL __attribute__((target("+crypto")))

// Byte loads and stores, and lanes taken from the register alone: the same
// on either byte order.
struct VectorNeon {
    using Type = uint8x16_t;
    static constexpr std::size_t kBytes = 16;

    QUARNEL_TARGET_PMULL static Type load(const std::uint8_t* p) { return vld1q_u8(p); }
    QUARNEL_TARGET_PMULL static void store(std::uint8_t* p, Type x) { vst1q_u8(p, x); }
    QUARNEL_TARGET_PMULL static Type with_state(Type x, std::uint16_t state)
    {
        return veorq_u8(x, vreinterpretq_u8_u64(vcombine_u64(vcreate_u64(state), vcreate_u64(0))));
    }
    QUARNEL_TARGET_PMULL static Type broadcast(crc::FoldConstants k)
    {
        return vreinterpretq_u8_u64(vcombine_u64(vcreate_u64(k.first_half), vcreate_u64(k.second_half)));
    }
    QUARNEL_TARGET_PMULL static Type fold_xor(Type x, Type k, Type next)
    {
        const poly64x2_t xs = vreinterpretq_p64_u8(x);
        const poly64x2_t ks = vreinterpretq_p64_u8(k);
        const Type low = vreinterpretq_u8_p128(vmull_p64(vgetq_lane_p64(xs, 0), vgetq_lane_p64(ks, 0)));
        const Type high = vreinterpretq_u8_p128(vmull_high_p64(xs, ks));
        return veorq_u8(veorq_u8(low, high), next);
    }
};

#define FOLD_FUNCTION continue_pmull
#define FOLD_TARGET QUARNEL_TARGET_PMULL
#define FOLD_VECTOR VectorNeon
#define FOLD_LANE VectorNeon
#define FOLD_SHORT crc::continue_sliced
#include "image/checksum_fold_kernel.h"

// Linux tells which instructions the CPU offers; where nothing here asks,
// PMULL is left unused.
bool cpu_has_pmull()
{
#if defined(__linux__)
    return (::getauxval(AT_HWCAP) & HWCAP_PMULL) != 0;
#else
    return false;
#endif
}

}  // namespace

std::span<const ChecksumKernel> checksum_kernels()
{
    static const std::array<ChecksumKernel, 1> kernels = {{
        {"pmull", "PMULL (ARMv8 cryptography extension)", crc::checksum_with<continue_pmull>, cpu_has_pmull()},
    }};
    return kernels;
}

}  // namespace quarnel

#endif
