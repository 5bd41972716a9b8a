// The x86-64 kernels: carry-less-multiply folding (see crc_fold.h) over
// 128-bit (PCLMULQDQ), 256-bit (VPCLMULQDQ with AVX2) and 512-bit
// (VPCLMULQDQ with AVX-512) vectors.
#include "image/checksum.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include <array>

#include "image/crc_fold.h"

namespace quarnel {
namespace {

#define QUARNEL_TARGET_PCLMUL __attribute__((target("pclmul,sse4.1")))
#define QUARNEL_TARGET_VPCLMUL256 __attribute__((target("avx2,vpclmulqdq,pclmul,sse4.1")))
#define QUARNEL_TARGET_VPCLMUL512 __attribute__((target("avx512f,avx512vl,vpclmulqdq,pclmul,sse4.1")))

struct Vector128 {
    using Type = __m128i;
    static constexpr std::size_t kBytes = 16;

    QUARNEL_TARGET_PCLMUL static Type load(const std::uint8_t* p)
    {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    }
    QUARNEL_TARGET_PCLMUL static void store(std::uint8_t* p, Type x)
    {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), x);
    }
    QUARNEL_TARGET_PCLMUL static Type with_state(Type x, std::uint16_t state)
    {
        return _mm_xor_si128(x, _mm_cvtsi32_si128(state));
    }
    QUARNEL_TARGET_PCLMUL static Type broadcast(crc::FoldConstants k)
    {
        return _mm_set_epi64x(static_cast<long long>(k.second_half), static_cast<long long>(k.first_half));
    }
    QUARNEL_TARGET_PCLMUL static Type fold_xor(Type x, Type k, Type next)
    {
        return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
    }
};

struct Vector256 {
    using Type = __m256i;
    static constexpr std::size_t kBytes = 32;

    QUARNEL_TARGET_VPCLMUL256 static Type load(const std::uint8_t* p)
    {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    }
    QUARNEL_TARGET_VPCLMUL256 static void store(std::uint8_t* p, Type x)
    {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), x);
    }
    QUARNEL_TARGET_VPCLMUL256 static Type with_state(Type x, std::uint16_t state)
    {
        return _mm256_xor_si256(x, _mm256_zextsi128_si256(_mm_cvtsi32_si128(state)));
    }
    QUARNEL_TARGET_VPCLMUL256 static Type broadcast(crc::FoldConstants k)
    {
        return _mm256_broadcastsi128_si256(
            _mm_set_epi64x(static_cast<long long>(k.second_half), static_cast<long long>(k.first_half)));
    }
    QUARNEL_TARGET_VPCLMUL256 static Type fold_xor(Type x, Type k, Type next)
    {
        return _mm256_xor_si256(
            _mm256_xor_si256(_mm256_clmulepi64_epi128(x, k, 0x00), _mm256_clmulepi64_epi128(x, k, 0x11)), next);
    }
};

struct Vector512 {
    using Type = __m512i;
    static constexpr std::size_t kBytes = 64;

    QUARNEL_TARGET_VPCLMUL512 static Type load(const std::uint8_t* p) { return _mm512_loadu_si512(p); }
    QUARNEL_TARGET_VPCLMUL512 static void store(std::uint8_t* p, Type x) { _mm512_storeu_si512(p, x); }
    QUARNEL_TARGET_VPCLMUL512 static Type with_state(Type x, std::uint16_t state)
    {
        return _mm512_xor_si512(x, _mm512_inserti32x4(_mm512_setzero_si512(), _mm_cvtsi32_si128(state), 0));
    }
    QUARNEL_TARGET_VPCLMUL512 static Type broadcast(crc::FoldConstants k)
    {
        const auto first = static_cast<long long>(k.first_half);
        const auto second = static_cast<long long>(k.second_half);
        return _mm512_set_epi64(second, first, second, first, second, first, second, first);
    }
    QUARNEL_TARGET_VPCLMUL512 static Type fold_xor(Type x, Type k, Type next)
    {
        // 0x96: three-way exclusive or.
        return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, k, 0x00), _mm512_clmulepi64_epi128(x, k, 0x11),
                                         next, 0x96);
    }
};

#define FOLD_FUNCTION continue_pclmul
#define FOLD_TARGET QUARNEL_TARGET_PCLMUL
#define FOLD_VECTOR Vector128
#define FOLD_LANE Vector128
#define FOLD_SHORT crc::continue_sliced
#include "image/checksum_fold_kernel.h"

#define FOLD_FUNCTION continue_vpclmul256
#define FOLD_TARGET QUARNEL_TARGET_VPCLMUL256
#define FOLD_VECTOR Vector256
#define FOLD_LANE Vector128
#define FOLD_SHORT continue_pclmul
#include "image/checksum_fold_kernel.h"

#define FOLD_FUNCTION continue_vpclmul512
#define FOLD_TARGET QUARNEL_TARGET_VPCLMUL512
#define FOLD_VECTOR Vector512
#define FOLD_LANE Vector128
#define FOLD_SHORT continue_pclmul
#include "image/checksum_fold_kernel.h"

bool cpu_has_pclmul() { return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1"); }

std::array<ChecksumKernel, 3> detect()
{
    __builtin_cpu_init();
    const bool vpclmul = cpu_has_pclmul() && __builtin_cpu_supports("vpclmulqdq");
    return {{
        {"vpclmulqdq-avx512", "AVX-512F, AVX-512VL, VPCLMULQDQ", crc::checksum_with<continue_vpclmul512>,
         vpclmul && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl")},
        {"vpclmulqdq-avx2", "AVX2, VPCLMULQDQ", crc::checksum_with<continue_vpclmul256>,
         vpclmul && __builtin_cpu_supports("avx2")},
        {"pclmulqdq", "PCLMULQDQ, SSE4.1", crc::checksum_with<continue_pclmul>, cpu_has_pclmul()},
    }};
}

}  // namespace

std::span<const ChecksumKernel> checksum_kernels()
{
    static const std::array<ChecksumKernel, 3> kernels = detect();
    return kernels;
}

}  // namespace quarnel

#endif
