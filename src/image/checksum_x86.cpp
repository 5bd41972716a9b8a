// CRC-16/X-25 by folding: the message is taken as a polynomial over GF(2)
// in 128-bit lanes, each lane multiplied forward to the next one with
// PCLMULQDQ (and, with VPCLMULQDQ, four lanes at once), so that only one
// lane is left to reduce at the end.
#include "image/checksum_x86.h"

#include "image/crc_state.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QUARNEL_X86_FOLDING 1
#include <immintrin.h>
#endif

namespace quarnel::x86 {

#ifdef QUARNEL_X86_FOLDING
namespace {

// Reflected bit order: bit j of a little-endian lane is the coefficient of
// x^(63 - j) within its 64-bit half, so a lane is L(x) x^64 + H(x) with L
// from its first eight bytes. Folding a lane forward by D bits replaces it
// with L x^(D+64) + H x^D, reduced modulo the polynomial P. A carry-less
// multiply of two reflected 64-bit operands yields their product times x,
// so each constant is the power one lower: x^(D+63) mod P for the first
// half, x^(D-1) mod P for the second, placed with x^d at bit 63 - d.

// x^n mod P, with x^d at bit d.
constexpr std::uint16_t x_power_mod(unsigned n)
{
    std::uint32_t remainder = 1;
    for (unsigned i = 0; i < n; ++i) {
        remainder <<= 1;
        if (remainder & 0x10000U) {
            remainder ^= 0x10000U | crc::kNormalPolynomial;
        }
    }
    return static_cast<std::uint16_t>(remainder);
}

constexpr std::uint64_t reflected_operand(std::uint16_t polynomial)
{
    std::uint64_t operand = 0;
    for (unsigned d = 0; d < 16; ++d) {
        if ((polynomial >> d) & 1U) {
            operand |= std::uint64_t{1} << (63 - d);
        }
    }
    return operand;
}

struct FoldConstants {
    std::uint64_t first_half;
    std::uint64_t second_half;
};

constexpr FoldConstants fold_constants(unsigned distance_bits)
{
    return {reflected_operand(x_power_mod(distance_bits + 63)), reflected_operand(x_power_mod(distance_bits - 1))};
}

constexpr FoldConstants kFold128 = fold_constants(128);
constexpr FoldConstants kFold256 = fold_constants(256);
constexpr FoldConstants kFold384 = fold_constants(384);
constexpr FoldConstants kFold512 = fold_constants(512);
constexpr FoldConstants kFold1024 = fold_constants(1024);
constexpr FoldConstants kFold1536 = fold_constants(1536);
constexpr FoldConstants kFold2048 = fold_constants(2048);

constexpr std::size_t kLane = 16;

#define QUARNEL_TARGET_PCLMUL __attribute__((target("pclmul,sse4.1")))
#define QUARNEL_TARGET_VPCLMUL __attribute__((target("avx512f,avx512vl,vpclmulqdq,pclmul,sse4.1")))

QUARNEL_TARGET_PCLMUL inline __m128i constants128(FoldConstants k)
{
    return _mm_set_epi64x(static_cast<long long>(k.second_half), static_cast<long long>(k.first_half));
}

QUARNEL_TARGET_PCLMUL inline __m128i load128(const std::uint8_t* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

QUARNEL_TARGET_PCLMUL inline __m128i fold128(__m128i lane, __m128i constants)
{
    return _mm_xor_si128(_mm_clmulepi64_si128(lane, constants, 0x00), _mm_clmulepi64_si128(lane, constants, 0x11));
}

// The last lane L satisfies: message = L modulo P, so the state is the CRC of
// L's sixteen bytes from a zero register; then the bytes after it.
QUARNEL_TARGET_PCLMUL std::uint16_t reduce_lane_then_tail(__m128i lane, const std::uint8_t* tail, std::size_t left)
{
    // Fold the remaining whole lanes first.
    const __m128i k128 = constants128(kFold128);
    for (; left >= kLane; left -= kLane, tail += kLane) {
        lane = _mm_xor_si128(fold128(lane, k128), load128(tail));
    }
    alignas(16) std::uint8_t bytes[kLane];
    _mm_store_si128(reinterpret_cast<__m128i*>(bytes), lane);
    const std::uint16_t state = crc::continue_sliced(0, bytes);
    return crc::continue_sliced(state, {tail, left});
}

QUARNEL_TARGET_PCLMUL std::uint16_t continue_pclmul(std::uint16_t state, std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < 4 * kLane) {
        return crc::continue_sliced(state, bytes);
    }
    const std::uint8_t* p = bytes.data();
    std::size_t left = bytes.size();
    __m128i x0 = _mm_xor_si128(load128(p), _mm_cvtsi32_si128(state));
    __m128i x1 = load128(p + 16);
    __m128i x2 = load128(p + 32);
    __m128i x3 = load128(p + 48);
    p += 64;
    left -= 64;
    const __m128i k512 = constants128(kFold512);
    for (; left >= 64; left -= 64, p += 64) {
        x0 = _mm_xor_si128(fold128(x0, k512), load128(p));
        x1 = _mm_xor_si128(fold128(x1, k512), load128(p + 16));
        x2 = _mm_xor_si128(fold128(x2, k512), load128(p + 32));
        x3 = _mm_xor_si128(fold128(x3, k512), load128(p + 48));
    }
    const __m128i lane =
        _mm_xor_si128(_mm_xor_si128(fold128(x0, constants128(kFold384)), fold128(x1, constants128(kFold256))),
                      _mm_xor_si128(fold128(x2, constants128(kFold128)), x3));
    return reduce_lane_then_tail(lane, p, left);
}

QUARNEL_TARGET_VPCLMUL inline __m512i constants512(FoldConstants k)
{
    const auto first = static_cast<long long>(k.first_half);
    const auto second = static_cast<long long>(k.second_half);
    return _mm512_set_epi64(second, first, second, first, second, first, second, first);
}

QUARNEL_TARGET_VPCLMUL inline __m512i fold512_xor(__m512i lanes, __m512i constants, __m512i next)
{
    // 0x96: three-way exclusive or.
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(lanes, constants, 0x00),
                                     _mm512_clmulepi64_epi128(lanes, constants, 0x11), next, 0x96);
}

QUARNEL_TARGET_VPCLMUL std::uint16_t continue_vpclmul(std::uint16_t state, std::span<const std::uint8_t> bytes)
{
    constexpr std::size_t kStride = std::size_t{4} * 64;
    if (bytes.size() < kStride) {
        return continue_pclmul(state, bytes);
    }
    const std::uint8_t* p = bytes.data();
    std::size_t left = bytes.size();
    const __m512i initial = _mm512_inserti32x4(_mm512_setzero_si512(), _mm_cvtsi32_si128(state), 0);
    __m512i z0 = _mm512_xor_si512(_mm512_loadu_si512(p), initial);
    __m512i z1 = _mm512_loadu_si512(p + 64);
    __m512i z2 = _mm512_loadu_si512(p + 128);
    __m512i z3 = _mm512_loadu_si512(p + 192);
    p += kStride;
    left -= kStride;
    const __m512i k2048 = constants512(kFold2048);
    for (; left >= kStride; left -= kStride, p += kStride) {
        z0 = fold512_xor(z0, k2048, _mm512_loadu_si512(p));
        z1 = fold512_xor(z1, k2048, _mm512_loadu_si512(p + 64));
        z2 = fold512_xor(z2, k2048, _mm512_loadu_si512(p + 128));
        z3 = fold512_xor(z3, k2048, _mm512_loadu_si512(p + 192));
    }
    const __m512i k512 = constants512(kFold512);
    __m512i z = fold512_xor(z0, constants512(kFold1536), fold512_xor(z1, constants512(kFold1024), z3));
    z = fold512_xor(z2, k512, z);
    for (; left >= 64; left -= 64, p += 64) {
        z = fold512_xor(z, k512, _mm512_loadu_si512(p));
    }
    alignas(64) std::uint8_t lanes[64];
    _mm512_store_si512(lanes, z);
    const __m128i lane =
        _mm_xor_si128(_mm_xor_si128(fold128(load128(lanes), constants128(kFold384)),
                                    fold128(load128(lanes + 16), constants128(kFold256))),
                      _mm_xor_si128(fold128(load128(lanes + 32), constants128(kFold128)), load128(lanes + 48)));
    return reduce_lane_then_tail(lane, p, left);
}

std::uint16_t checksum_pclmul(std::span<const std::uint8_t> bytes)
{
    return crc::finish(continue_pclmul(crc::kInitialState, bytes));
}

std::uint16_t checksum_vpclmul(std::span<const std::uint8_t> bytes)
{
    return crc::finish(continue_vpclmul(crc::kInitialState, bytes));
}

struct SupportedList {
    ChecksumImplementation entries[2];
    std::size_t count = 0;
};

SupportedList detect()
{
    SupportedList list{};
    __builtin_cpu_init();
    if (__builtin_cpu_supports("vpclmulqdq") && __builtin_cpu_supports("avx512f") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("pclmul")) {
        list.entries[list.count++] = {"vpclmulqdq-avx512", checksum_vpclmul};
    }
    if (__builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1")) {
        list.entries[list.count++] = {"pclmulqdq", checksum_pclmul};
    }
    return list;
}

}  // namespace

std::span<const ChecksumImplementation> supported_checksums()
{
    static const SupportedList list = detect();
    return {list.entries, list.count};
}

#else

std::span<const ChecksumImplementation> supported_checksums() { return {}; }

#endif

}  // namespace quarnel::x86
