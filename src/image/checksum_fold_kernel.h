// One folding kernel for every vector width and architecture. checksum_x86.cpp
// and checksum_arm.cpp include this file once per kernel, after defining:
//   FOLD_FUNCTION  the kernel's name: (state, bytes) -> state
//   FOLD_TARGET    its target attribute
//   FOLD_VECTOR    a struct of vector operations, all built for FOLD_TARGET
//   FOLD_LANE      the same operations on one 128-bit lane, callable from FOLD_TARGET
//   FOLD_SHORT     the function that takes inputs shorter than one stride
// This file undefines them all at its end, so that the next kernel starts
// afresh. Four accumulators are written out so that they stay in registers.

FOLD_TARGET std::uint16_t FOLD_FUNCTION(std::uint16_t state, std::span<const std::uint8_t> bytes)
{
    using Vector = FOLD_VECTOR;
    using V = Vector::Type;
    constexpr std::size_t kBytes = Vector::kBytes;
    constexpr std::size_t kStride = 4 * kBytes;
    constexpr auto kVectorBits = static_cast<unsigned>(8 * kBytes);
    constexpr crc::FoldConstants kAcrossStride = crc::fold_constants(4 * kVectorBits);
    constexpr crc::FoldConstants kOneVector = crc::fold_constants(kVectorBits);
    constexpr crc::FoldConstants kTwoVectors = crc::fold_constants(2 * kVectorBits);
    constexpr crc::FoldConstants kThreeVectors = crc::fold_constants(3 * kVectorBits);

    if (bytes.size() < kStride) {
        return FOLD_SHORT(state, bytes);
    }
    const std::uint8_t* p = bytes.data();
    std::size_t left = bytes.size() - kStride;
    V x0 = Vector::with_state(Vector::load(p), state);
    V x1 = Vector::load(p + kBytes);
    V x2 = Vector::load(p + 2 * kBytes);
    V x3 = Vector::load(p + 3 * kBytes);
    p += kStride;
    const V stride = Vector::broadcast(kAcrossStride);
    for (; left >= kStride; left -= kStride, p += kStride) {
        x0 = Vector::fold_xor(x0, stride, Vector::load(p));
        x1 = Vector::fold_xor(x1, stride, Vector::load(p + kBytes));
        x2 = Vector::fold_xor(x2, stride, Vector::load(p + 2 * kBytes));
        x3 = Vector::fold_xor(x3, stride, Vector::load(p + 3 * kBytes));
    }
    const V one = Vector::broadcast(kOneVector);
    V x = Vector::fold_xor(x0, Vector::broadcast(kThreeVectors),
                           Vector::fold_xor(x1, Vector::broadcast(kTwoVectors), x3));
    x = Vector::fold_xor(x2, one, x);
    for (; left >= kBytes; left -= kBytes, p += kBytes) {
        x = Vector::fold_xor(x, one, Vector::load(p));
    }
    alignas(64) std::uint8_t lanes[kBytes];
    Vector::store(lanes, x);

    // The stored 128-bit lanes fold into the last one, then the whole lanes
    // and the bytes that follow them. The last lane L satisfies message = L
    // modulo P, so the state is the CRC of L's sixteen bytes from a zero register.
    using Lane = FOLD_LANE;
    constexpr std::size_t kLanes = kBytes / crc::kLaneBytes;
    Lane::Type lane = Lane::load(lanes + (kLanes - 1) * crc::kLaneBytes);
    for (std::size_t j = 0; j + 1 < kLanes; ++j) {
        lane = Lane::fold_xor(Lane::load(lanes + j * crc::kLaneBytes), Lane::broadcast(crc::kLaneFolds[kLanes - 2 - j]),
                              lane);
    }
    const Lane::Type one_lane = Lane::broadcast(crc::kLaneFolds[0]);
    for (; left >= crc::kLaneBytes; left -= crc::kLaneBytes, p += crc::kLaneBytes) {
        lane = Lane::fold_xor(lane, one_lane, Lane::load(p));
    }
    alignas(16) std::uint8_t last[crc::kLaneBytes];
    Lane::store(last, lane);
    return crc::continue_sliced(crc::continue_sliced(0, last), {p, left});
}

#undef FOLD_FUNCTION
#undef FOLD_TARGET
#undef FOLD_VECTOR
#undef FOLD_LANE
#undef FOLD_SHORT
