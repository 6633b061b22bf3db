// The vector loop of a stretch, written once against Highway and compiled
// for every instruction set that mix_routines.cpp builds (included per
// target, hence the toggled guard). The numbers are the plain loop's: every
// lane computes one output sample with the same exact integer arithmetic.
//
// A group is as many consecutive output samples as a vector has 32-bit
// lanes. Each lane needs the pair S0, S1 of its position; when the step is
// small the group's positions lie close together, so the pairs are picked
// from 16 contiguous bytes of the sample with one in-register byte lookup
// (one window for the whole group, or one per 128-bit block), instead of one
// gather per group. Larger steps, groups whose window would leave the
// readable bytes, and processors whose vectors have no fixed size gather.
#if defined(ZELVIX_MIXER_MIX_VECTOR_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef ZELVIX_MIXER_MIX_VECTOR_INL_H_
#undef ZELVIX_MIXER_MIX_VECTOR_INL_H_
#else
#define ZELVIX_MIXER_MIX_VECTOR_INL_H_
#endif

#include <hwy/highway.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <type_traits>

#include "mixer/mix_stretch-inl.h"

// The group body is forced inline in optimised builds, where GCC otherwise
// keeps the masked last group out of line and builds a closure of the loop's
// state for every stretch. Sanitizer builds, which compile it twice as
// slowly when forced, leave it to the compiler.
#ifndef ZV_GROUP_BODY_INLINE
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZV_GROUP_BODY_INLINE
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define ZV_GROUP_BODY_INLINE
#endif
#endif
#ifndef ZV_GROUP_BODY_INLINE
#define ZV_GROUP_BODY_INLINE __attribute__((always_inline))
#endif
#endif

// The scalar fallbacks of Highway get no vector loop: "scalar" is the plain loop.
#if HWY_TARGET != HWY_SCALAR && HWY_TARGET != HWY_EMU128

HWY_BEFORE_NAMESPACE();
namespace zv {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

#if HWY_TARGET == HWY_SVE || HWY_TARGET == HWY_SVE2 || HWY_TARGET == HWY_SVE_256 || HWY_TARGET == HWY_SVE2_128
constexpr bool kByteWindows = false;  // sizeless vectors: no 128-bit pieces to assemble
#else
constexpr bool kByteWindows = true;
#endif

// The vectors the loop uses: the widest (256-bit vectors on AVX-512 measure slower).
using MixTag = hn::ScalableTag<int32_t>;

constexpr size_t kMaxLanes = HWY_MAX_BYTES / sizeof(int32_t);
constexpr size_t kBlockLanes = 4;     // 32-bit lanes in a 128-bit block
constexpr int32_t kWindowBytes = 16;  // one in-register byte lookup reads 16 bytes
// Bytes readable behind the element at `end`: the guard and the zero tail.
constexpr int32_t kReadableTailBytes = 4;

// How a stretch's groups fetch their pairs.
enum class Fetch : uint8_t {
  groupWindow,   // one window for the whole group, duplicated into every block
  halfWindows,   // 512-bit vectors: one window per 256-bit half
  blockWindows,  // one window per 128-bit block
  gather,        // one gather per group
};

// What a stretch's groups share, decided once per stretch. Lane k's position
// is the group's plus k increments: floor(k x increment / 2^32) elements (its
// offset) and the low 32 bits of the product added to F, which carries one
// element more when the addition overflows.
struct GroupShape;
struct GroupPlan {
  Fetch fetch = Fetch::gather;
  const GroupShape* shape = nullptr;  // the lanes' vectors for this fetch, when kept
  int32_t blockStart[kMaxLanes / kBlockLanes] = {};  // window start of each block, in elements from lane 0
  // Group start indices (lane 0, from `base`) whose windows lie inside the readable bytes.
  int64_t windowLow = 0, windowHigh = 0;
};

// The part of a plan that the increment alone decides: the fetch the windows
// allow, where they start, and the lanes' vectors of that fetch (laneVectors),
// which a stretch would otherwise compute in a long chain of multiplies
// before its first group.
struct GroupShape {
  int64_t increment = 0;
  bool known = false;  // whether this holds the shape of `increment`
  Fetch fetch = Fetch::gather;
  int32_t blockStart[kMaxLanes / kBlockLanes] = {};
  int32_t lowest = 0, highest = 0;  // of the block starts
  alignas(HWY_MAX_BYTES) int32_t offLow[kMaxLanes] = {};
  alignas(HWY_MAX_BYTES) int32_t offHigh[kMaxLanes] = {};
  alignas(HWY_MAX_BYTES) int32_t window[kMaxLanes] = {};
};

// The upper 32 bits of each 64-bit lane moved to the lower (the upper are then don't-care).
template <class V>
HWY_INLINE V oddToEven(V v) {
#if HWY_ARCH_X86 || HWY_TARGET == HWY_NEON
  return hn::Shuffle2301(v);
#else
  const hn::DFromV<V> d;
  return hn::BitCast(d, hn::ShiftRight<32>(hn::BitCast(hn::Repartition<uint64_t, decltype(d)>(), v)));
#endif
}

inline int32_t laneOffset(size_t k, int64_t increment) {
  return static_cast<int32_t>((static_cast<int64_t>(k) * increment) >> 32);
}

// Windows of one group and gathers take any lane order: lane 2j holds
// sample j and lane 2j + 1 sample lanes / 2 + j, so the products of the
// even lanes and of the odd lanes are the two halves' frames in order.
// Block windows need neighbouring samples in a block and keep lane k at sample k.
template <Fetch kFetch>
constexpr bool kSplitLanesFor = kFetch == Fetch::groupWindow || kFetch == Fetch::gather;

// The sample of each lane: see kSplitLanesFor.
template <Fetch kFetch, class D>
HWY_INLINE hn::Vec<D> laneSamples(D du) {
  const auto lane = hn::Iota(du, 0);
  if constexpr (!kSplitLanesFor<kFetch>) return lane;
  const auto halfway = static_cast<uint32_t>(hn::Lanes(du) / 2);
  return hn::Add(hn::ShiftRight<1>(lane), hn::Mul(hn::And(lane, hn::Set(du, 1u)), hn::Set(du, halfway)));
}

// The lanes' vectors of an increment for fetch kFetch. offLow: the low 32
// bits of k x increment for lane k's sample; offHigh: the elements above them
// (the low increment's product carries into them); window: the byte indices
// that place S0 and S1 of the lane's element of its window in the halves of
// a 32-bit lane on the 16-bit scale (for bytes the element goes to the high
// byte of its half and the low byte is zero: index 0x80).
template <Fetch kFetch, typename Element, class D>
HWY_INLINE void laneVectors(D d, int64_t increment, const int32_t* blockStart, hn::Vec<D>& offLow,
                            hn::Vec<D>& offHigh, hn::Vec<D>& window) {
  const hn::RebindToUnsigned<D> du;
  constexpr int32_t size = sizeof(Element);
  const auto k = laneSamples<kFetch>(du);
  const auto incrementLow = hn::Set(du, static_cast<uint32_t>(increment));
  offLow = hn::BitCast(d, hn::Mul(k, incrementLow));
  const auto productEven = hn::BitCast(du, hn::MulEven(k, incrementLow));
  const auto productOdd = hn::BitCast(du, hn::MulEven(oddToEven(k), incrementLow));
  offHigh = hn::Add(hn::Mul(hn::BitCast(d, k), hn::Set(d, static_cast<int32_t>(increment >> 32))),
                    hn::BitCast(d, hn::OddEven(productOdd, oddToEven(productEven))));
  hn::Vec<D> laneWindow = hn::Set(d, blockStart[0]);
#if HWY_MAX_BYTES == 32 || HWY_MAX_BYTES == 64
  if constexpr (kFetch == Fetch::blockWindows && hn::MaxLanes(d) > 4) {
    laneWindow = increment >= 0 ? hn::Broadcast<0>(offHigh) : hn::Broadcast<3>(offHigh);
  }
#endif
#if HWY_MAX_BYTES == 64
  if constexpr (kFetch == Fetch::halfWindows) {
    const hn::Full256<int32_t> d256;
    laneWindow = hn::Combine(d, hn::Set(d256, blockStart[1]), hn::Set(d256, blockStart[0]));
  }
#endif
  const auto r = hn::Sub(offHigh, laneWindow);
  window = size == 1 ? hn::Add(hn::Mul(r, hn::Set(d, 0x01000100)), hn::Set(d, 0x01800080))
                     : hn::Add(hn::Mul(hn::Add(r, r), hn::Set(d, 0x01010101)), hn::Set(d, 0x03020100));
}

// Stores the lanes' vectors of g's increment for fetch kFetch into g.
template <Fetch kFetch, typename Element>
HWY_INLINE void keepLaneVectors(GroupShape& g) {
  const MixTag d;
  hn::Vec<MixTag> offLow, offHigh, window;
  laneVectors<kFetch, Element>(d, g.increment, g.blockStart, offLow, offHigh, window);
  hn::Store(offLow, d, g.offLow);
  hn::Store(offHigh, d, g.offHigh);
  hn::Store(window, d, g.window);
}

// Fills `g` with the shape of `increment`.
template <typename Element>
HWY_NOINLINE void shapeGroups(size_t lanes, int64_t increment, GroupShape& g) {
  constexpr int32_t size = sizeof(Element);
  g.fetch = Fetch::gather;
  g.increment = increment;
  g.known = true;
  // A window holds kWindowBytes / size elements; a lane reads its element (or
  // the next after a carry) and the one behind it. Offsets are monotonic in
  // the lane, so a block's first and last lanes bound it.
  const int32_t widest = kWindowBytes / size - 3;
  const size_t halves = lanes == 4 * kBlockLanes ? 2 : 1;
  for (const size_t blocks : {size_t{1}, halves, lanes / kBlockLanes}) {
    const size_t perBlock = lanes / blocks;
    bool fits = true;
    for (size_t b = 0; b < blocks; ++b) {
      const int32_t first = laneOffset(b * perBlock, increment);
      const int32_t last = laneOffset(b * perBlock + perBlock - 1, increment);
      g.blockStart[b] = std::min(first, last);
      fits = fits && std::max(first, last) - g.blockStart[b] <= widest;
    }
    if (!fits) continue;
    const auto [low, high] = std::minmax_element(g.blockStart, g.blockStart + blocks);
    g.lowest = *low;
    g.highest = *high;
    g.fetch = blocks == 1 ? Fetch::groupWindow : perBlock == kBlockLanes ? Fetch::blockWindows : Fetch::halfWindows;
    break;
  }
  if (g.fetch == Fetch::gather) std::fill(std::begin(g.blockStart), std::end(g.blockStart), 0);
  switch (g.fetch) {
    case Fetch::groupWindow: keepLaneVectors<Fetch::groupWindow, Element>(g); break;
#if HWY_MAX_BYTES == 64
    case Fetch::halfWindows: keepLaneVectors<Fetch::halfWindows, Element>(g); break;
#endif
    case Fetch::blockWindows: keepLaneVectors<Fetch::blockWindows, Element>(g); break;
    default: keepLaneVectors<Fetch::gather, Element>(g); break;
  }
}

template <typename Element>
HWY_INLINE GroupPlan planGroups(size_t lanes, int64_t increment, int64_t baseOffset, int32_t end) {
  constexpr int32_t size = sizeof(Element);
  GroupPlan p;
  if constexpr (!kByteWindows) {
    return p;
  } else {
    // A voice keeps its increment from stretch to stretch, and a tick's voices
    // have few: shapes are kept in a small table by increment (per thread: each
    // sound thread mixes its own).
    thread_local GroupShape shapes[64];
    GroupShape& shape = shapes[(static_cast<uint64_t>(increment) * 0x9E3779B97F4A7C15u) >> 58];
    if (!shape.known || shape.increment != increment) shapeGroups<Element>(lanes, increment, shape);
    if (shape.fetch == Fetch::gather) {
      p.shape = &shape;
      return p;
    }
    // Windows from element e of the data: 0 <= e and e x size + 16 <= end x size + 4.
    p.windowLow = -baseOffset - shape.lowest;
    p.windowHigh = int64_t{end} - (kWindowBytes - kReadableTailBytes) / size - baseOffset - shape.highest;
    // A sample too short for any window gathers (in the lane order of one window's).
    if (p.windowHigh < p.windowLow) {
      if (shape.fetch == Fetch::groupWindow) p.shape = &shape;
      return p;
    }
    p.fetch = shape.fetch;
    p.shape = &shape;
    std::copy(std::begin(shape.blockStart), std::end(shape.blockStart), p.blockStart);
    return p;
  }
}

// The 16 window bytes of each block: the same window for every block, or one per block.
template <Fetch kFetch, class D8>
HWY_INLINE hn::Vec<D8> loadWindows(D8 d8, const uint8_t* group, const int32_t* blockStart, int32_t size) {
#if HWY_MAX_BYTES == 64
  if constexpr (kFetch == Fetch::halfWindows) {
    const hn::Full256<uint8_t> d256;
    return hn::Combine(d8, hn::LoadDup128(d256, group + blockStart[1] * size),
                       hn::LoadDup128(d256, group + blockStart[0] * size));
  }
#endif
#if HWY_MAX_BYTES == 32 || HWY_MAX_BYTES == 64
  if constexpr (kFetch == Fetch::blockWindows && hn::MaxLanes(d8) > 16) {
    const hn::Full128<uint8_t> d128;
    const auto block = [&](int b) { return hn::LoadU(d128, group + blockStart[b] * size); };
    if constexpr (hn::MaxLanes(d8) == 32) {
      return hn::Combine(d8, block(1), block(0));
    } else {
      const hn::Full256<uint8_t> d256;
      return hn::Combine(d8, hn::Combine(d256, block(3), block(2)), hn::Combine(d256, block(1), block(0)));
    }
  }
#endif
  return hn::LoadDup128(d8, group + blockStart[0] * size);
}

// The pairs of a group by one gather of 32 bits at each lane's element (at
// byte `offsets` from `bytes`). 8-bit data give the element and the three
// bytes behind it; its first two go to the high bytes of the halves.
template <typename Element, class D>
HWY_INLINE hn::Vec<D> gatherPairs(D d, const uint8_t* bytes, hn::Vec<D> offsets) {
  const auto gathered = hn::GatherOffset(d, reinterpret_cast<const int32_t*>(bytes), offsets);
  if constexpr (sizeof(Element) == 2) return gathered;
  const auto s0 = hn::And(hn::ShiftLeft<8>(gathered), hn::Set(d, 0x0000FF00));
  const auto s1 = hn::And(hn::ShiftLeft<16>(gathered), hn::Set(d, static_cast<int32_t>(0xFF000000u)));
  return hn::Or(s0, s1);
}

// From pairs (S0 in the low 16 bits, S1 in the high 16 bits): S0 x 2^12 and
// S1 - S0, or with kSignedF (S0 + S1) / 2 x 2^12 and (S1 - S0) x 2^12, the
// scale the product with flipped F needs (groupValues).
template <bool kSignedF, class D>
HWY_INLINE void unpackPairs(D d, hn::Vec<D> pair, hn::Vec<D>& s0Scaled, hn::Vec<D>& delta) {
#if HWY_ARCH_X86
  // Two multiply-adds of the halves (pmaddwd): (S0, S1) . (4096, 0) or
  // (2048, 2048), and (S0, S1) . (-1, 1) or (-4096, 4096).
  const hn::Repartition<int16_t, D> d16;
  const auto dot = [&](uint32_t weights) {
    auto odd = hn::Zero(d);
    const auto even = hn::ReorderWidenMulAccumulate(d, hn::BitCast(d16, pair),
                                                    hn::BitCast(d16, hn::Set(d, static_cast<int32_t>(weights))),
                                                    hn::Zero(d), odd);
    return hn::RearrangeToOddPlusEven(even, odd);
  };
  s0Scaled = dot(kSignedF ? 0x08000800u : 4096u);
  delta = dot(kSignedF ? 0x1000F000u : 0x0001FFFFu);
#else
  (void)d;
  static_assert(!kSignedF, "the midpoint form is built for x86 only");
  const auto s0 = hn::ShiftRight<16>(hn::ShiftLeft<16>(pair));
  s0Scaled = hn::ShiftLeft<12>(s0);
  delta = hn::Sub(hn::ShiftRight<16>(pair), s0);
#endif
}

// The values I x 2^12 of a group from its pairs and accumulators F, with I =
// S0 + 2 floor(d x F / 2^33): their products with a gain then have
// floor(I x gain / 2^20) in their high halves, exact since |I| <= 32768.
// With kSignedF, f holds F - 2^31 (F with its top bit flipped, read as
// signed), which 8-bit data allow (below).
template <bool kInterpolate, bool kSignedF, class D, class VU>
HWY_INLINE hn::Vec<D> groupValues(D d, hn::Vec<D> pair, VU f) {
  hn::Vec<D> scaledValue, delta;
  // With F = Fs + 2^31, floor(d x F / 2^33) = floor(d x Fs / 2^33) + d / 4
  // when d / 4 is whole (8-bit data: d = 256 (s1 - s0)), so I = (S0 + S1) / 2
  // + 2 floor(d x Fs / 2^33): the flipped accumulators the compares need
  // serve the products too, and the plain ones need not be kept.
  unpackPairs<kSignedF && kInterpolate>(d, pair, scaledValue, delta);
  if constexpr (kInterpolate) {
    // F is a multiple of 8, so floor(d x F / 2^33) is the high half of the
    // signed 64-bit product d x (F / 2). With flipped F the high half of
    // (d x 2^12) x Fs is floor(d x Fs / 2^20), and with its low 13 bits
    // cleared 2^13 floor(d x Fs / 2^33): a mask instead of two shifts.
    const auto factor = kSignedF ? hn::BitCast(d, f) : hn::BitCast(d, hn::ShiftRight<1>(f));
    const auto even = hn::BitCast(d, hn::MulEven(delta, factor));
    const auto odd = hn::BitCast(d, hn::MulEven(oddToEven(delta), oddToEven(factor)));
    const auto high = hn::OddEven(odd, oddToEven(even));
    if constexpr (kSignedF) {
      scaledValue = hn::Add(scaledValue, hn::And(high, hn::Set(d, ~int32_t{0x1FFF})));
    } else {
      scaledValue = hn::Add(scaledValue, hn::ShiftLeft<13>(high));
    }
  }
  return scaledValue;
}

// The frames of a group from its values (groupValues): floor(I x gain /
// 2^20) for both sides, in the MixBuffer's order (left, right of sample 0,
// then of sample 1, ...), the first half of the samples in `firstFrames`.
// The gains are in the layout of the products: sample j of each half in the
// low 32 bits of 64-bit lane j.
template <bool kSplitLanes, bool kCentred, class D, class Indices>
HWY_INLINE void valueFrames(hn::Vec<D> scaledValue, Indices firstHalf, Indices lastHalf, hn::Vec<D> leftFirst,
                            hn::Vec<D> leftLast, hn::Vec<D> rightFirst, hn::Vec<D> rightLast,
                            hn::Vec<D>& firstFrames, hn::Vec<D>& lastFrames) {
  const D d;
  const auto first = kSplitLanes ? scaledValue : hn::TableLookupLanes(scaledValue, firstHalf);
  const auto last = kSplitLanes ? oddToEven(scaledValue) : hn::TableLookupLanes(scaledValue, lastHalf);
  if constexpr (kCentred) {
    (void)rightFirst;
    (void)rightLast;
    firstFrames = hn::DupOdd(hn::BitCast(d, hn::MulEven(first, leftFirst)));
    lastFrames = hn::DupOdd(hn::BitCast(d, hn::MulEven(last, leftLast)));
  } else {
    // Left from the high half moved down, right in its place.
    firstFrames = hn::OddEven(hn::BitCast(d, hn::MulEven(first, rightFirst)),
                              oddToEven(hn::BitCast(d, hn::MulEven(first, leftFirst))));
    lastFrames = hn::OddEven(hn::BitCast(d, hn::MulEven(last, rightLast)),
                             oddToEven(hn::BitCast(d, hn::MulEven(last, leftLast))));
  }
}

// Mixes `count` samples (at least a group) from s.position on in groups, the
// last ending where the stretch ends; s is left as it was.
template <Fetch kFetch, typename Element, bool kInterpolate, bool kRamp, bool kCentred>
HWY_INLINE void mixGroups(const Element* base, const Stretch& s, uint32_t count, const GroupPlan& p) {
  const MixTag d;
  const hn::RebindToUnsigned<decltype(d)> du;
  const hn::Repartition<uint8_t, decltype(d)> d8;
  const size_t lanes = hn::Lanes(d);
  constexpr int32_t size = sizeof(Element);

  constexpr bool kSplitLanes = kSplitLanesFor<kFetch>;
  const auto lane = hn::Iota(du, 0);
  const auto pairIndex = hn::ShiftRight<1>(lane);
  const auto halfway = static_cast<uint32_t>(lanes / 2);

  // The lanes' vectors (laneVectors), kept with the increment's shape or made here.
  hn::Vec<decltype(d)> offLowSigned, offHigh, window;
  if (p.shape != nullptr) {
    offLowSigned = hn::Load(d, p.shape->offLow);
    offHigh = hn::Load(d, p.shape->offHigh);
    window = hn::Load(d, p.shape->window);
  } else {
    laneVectors<kFetch, Element>(d, s.increment, p.blockStart, offLowSigned, offHigh, window);
  }
  const auto offLow = hn::BitCast(du, offLowSigned);
  const auto gatherBytes = size == 1 ? offHigh : hn::Add(offHigh, offHigh);
  const auto gatherBytesCarry = hn::Add(gatherBytes, hn::Set(d, size));
  const auto windowCarry = hn::Add(window, hn::Set(d, size == 1 ? 0x01000100 : 0x02020202));

  // Sample j and sample lanes / 2 + j to the low half of 64-bit lane j; their gains likewise.
  const auto firstHalf = hn::IndicesFromVec(d, hn::BitCast(d, pairIndex));
  const auto lastHalf = hn::IndicesFromVec(d, hn::BitCast(d, hn::Add(pairIndex, hn::Set(du, halfway))));
  auto leftFirst = hn::BitCast(d, hn::Set(du, s.left));
  auto rightFirst = hn::BitCast(d, hn::Set(du, s.right));
  auto leftLast = leftFirst, rightLast = rightFirst;
  if constexpr (kRamp) {
    leftFirst = hn::BitCast(d, hn::Add(hn::Set(du, s.left), hn::Mul(pairIndex, hn::Set(du, s.deltaLeft))));
    rightFirst = hn::BitCast(d, hn::Add(hn::Set(du, s.right), hn::Mul(pairIndex, hn::Set(du, s.deltaRight))));
    leftLast = hn::Add(leftFirst, hn::BitCast(d, hn::Set(du, halfway * s.deltaLeft)));
    rightLast = hn::Add(rightFirst, hn::BitCast(d, hn::Set(du, halfway * s.deltaRight)));
  }
  const auto leftStep = hn::BitCast(d, hn::Set(du, static_cast<uint32_t>(lanes) * s.deltaLeft));
  auto rightStep = hn::BitCast(d, hn::Set(du, static_cast<uint32_t>(lanes) * s.deltaRight));
  // With 16 vector registers (SSE4, AVX2) ramping stereo gains are kept
  // packed in rightFirst, rightLast and rightStep, right in the even lanes
  // and left in the odd: half the vectors to step and keep in registers,
  // for one shuffle per product of the left side.
#if HWY_ARCH_X86 && HWY_TARGET > HWY_AVX3
  constexpr bool kPackedGains = kRamp && !kCentred;
#else
  constexpr bool kPackedGains = false;
#endif
  if constexpr (kPackedGains) {
    rightFirst = hn::OddEven(leftFirst, rightFirst);
    rightLast = hn::OddEven(leftLast, rightLast);
    rightStep = hn::OddEven(leftStep, rightStep);
  }

  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(base);
  const int64_t groupIncrement = static_cast<int64_t>(lanes) * s.increment;
  const uint64_t windowRange = static_cast<uint64_t>(p.windowHigh - p.windowLow);
  const uint32_t groups = count / static_cast<uint32_t>(lanes);
  int64_t position = s.position;
  int32_t* out = s.out;
  // Every lane's F, advanced by a group's increment (mod 2^32) per group. A
  // lane carries when its F is below its offset's low half.
  auto f = hn::Add(hn::Set(du, static_cast<uint32_t>(position)), offLow);
  const auto fStep = hn::Set(du, static_cast<uint32_t>(groupIncrement));
#if HWY_ARCH_X86
  // F and the offsets are also kept with their top bit flipped: SSE4 and
  // AVX2 compare signed only, and 8-bit data interpolate from flipped F.
  constexpr bool kFlippedCompare = HWY_TARGET > HWY_AVX3 || size == 1;
  const auto flip = hn::Set(du, 0x80000000u);
  auto fFlipped = hn::BitCast(d, hn::Xor(f, flip));
  const auto offLowFlipped = hn::BitCast(d, hn::Xor(offLow, flip));
#endif
#if HWY_ARCH_X86 && HWY_TARGET > HWY_AVX3
  // Without mask registers a carry selects by adding the next element's
  // indices: for bytes, one to each index byte (the zero bytes stay above 0x80).
  const auto carryStep = hn::Sub(windowCarry, window);
#endif
  // A group is mixed in two steps: its values from the pairs at `position`
  // (which also steps the flipped accumulators), then its frames into `out`.
  // When `inWindow` holds true the group's window is known to lie inside
  // the readable bytes; otherwise it is tested. When `masked` holds true, the
  // frames below int32 element `keepFrom` (of the two halves together) add
  // nothing: they were mixed already.
  int32_t keepFrom = 0;
  const auto windowFits = [&](int64_t index) { return static_cast<uint64_t>(index - p.windowLow) <= windowRange; };
  const auto valuesHere = [&](auto inWindow) HWY_ATTR ZV_GROUP_BODY_INLINE {
    const int64_t index = position >> 32;
#if HWY_ARCH_X86
    const auto fHere = fFlipped;  // this group's
    const auto carry = kFlippedCompare ? hn::Gt(offLowFlipped, fHere) : hn::RebindMask(d, hn::Lt(f, offLow));
    if constexpr (kFlippedCompare) fFlipped = hn::Add(fFlipped, hn::BitCast(d, fStep));
#else
    const auto carry = hn::RebindMask(d, hn::Lt(f, offLow));
#endif
    hn::Vec<decltype(d)> pair;
    if (kFetch != Fetch::gather && (decltype(inWindow)::value || HWY_LIKELY(windowFits(index)))) {
      const auto windows = loadWindows<kFetch>(d8, bytes + index * size, p.blockStart, size);
#if HWY_ARCH_X86 && HWY_TARGET > HWY_AVX3
      const auto select = size == 1 ? hn::Sub(hn::BitCast(d8, window), hn::BitCast(d8, hn::VecFromMask(d, carry)))
                                    : hn::BitCast(d8, hn::Add(window, hn::And(hn::VecFromMask(d, carry), carryStep)));
#else
      const auto select = hn::BitCast(d8, hn::IfThenElse(carry, windowCarry, window));
#endif
      pair = hn::BitCast(d, hn::TableLookupBytesOr0(windows, select));
    } else {
      const auto offsets = hn::Add(hn::Set(d, static_cast<int32_t>(index * size)),
                                   hn::IfThenElse(carry, gatherBytesCarry, gatherBytes));
      pair = gatherPairs<Element>(d, bytes, offsets);
    }
#if HWY_ARCH_X86
    if constexpr (size == 1) return groupValues<kInterpolate, true>(d, pair, hn::BitCast(du, fHere));
#endif
    return groupValues<kInterpolate, false>(d, pair, f);
  };
  const auto framesHere = [&](hn::Vec<decltype(d)> values, auto masked) HWY_ATTR ZV_GROUP_BODY_INLINE {
    hn::Vec<decltype(d)> firstFrames, lastFrames;
    valueFrames<kSplitLanes, kCentred, decltype(d)>(
        values, firstHalf, lastHalf, kPackedGains ? oddToEven(rightFirst) : leftFirst,
        kPackedGains ? oddToEven(rightLast) : leftLast, rightFirst, rightLast, firstFrames, lastFrames);
    if constexpr (decltype(masked)::value) {
      const auto element = hn::BitCast(d, lane);
      const auto below = hn::Set(d, keepFrom - 1);  // Highway has no integer Ge
      firstFrames = hn::IfThenElseZero(hn::Gt(element, below), firstFrames);
      lastFrames = hn::IfThenElseZero(hn::Gt(hn::Add(element, hn::Set(d, static_cast<int32_t>(lanes))), below),
                                      lastFrames);
    }
    hn::StoreU(hn::Add(hn::LoadU(d, out), firstFrames), d, out);
    hn::StoreU(hn::Add(hn::LoadU(d, out + lanes), lastFrames), d, out + lanes);
  };
  const auto stepGains = [&]() HWY_ATTR ZV_GROUP_BODY_INLINE {
    if constexpr (kRamp) {
      if constexpr (!kPackedGains) {
        leftFirst = hn::Add(leftFirst, leftStep);
        leftLast = hn::Add(leftLast, leftStep);
      }
      if constexpr (!kCentred) {
        rightFirst = hn::Add(rightFirst, rightStep);
        rightLast = hn::Add(rightLast, rightStep);
      }
    }
  };

  // The loop works two groups ahead: each pass computes the values of a
  // later group before the frames of its own, so the two halves of a
  // group's long chain of dependent steps come from different passes and
  // overlap (one group ahead measured up to 5% slower). Passes are unrolled
  // in two on SSE4 and AVX2, where two groups share the loop's scalar steps
  // (measured faster; no faster with 512-bit vectors).
  const auto mixAllGroups = [&](auto inWindow) HWY_ATTR ZV_GROUP_BODY_INLINE {
    const auto advance = [&]() HWY_ATTR ZV_GROUP_BODY_INLINE {
      position += groupIncrement;
      f = hn::Add(f, fStep);
    };
    const auto frames = [&](hn::Vec<decltype(d)> v) HWY_ATTR ZV_GROUP_BODY_INLINE {
      framesHere(v, std::false_type{});
      out += 2 * lanes;
      stepGains();
    };
    auto values = valuesHere(inWindow);
    advance();
    if (groups == 1) {
      frames(values);
      return;
    }
    auto values1 = valuesHere(inWindow);
    advance();
#if HWY_ARCH_X86 && HWY_TARGET > HWY_AVX3
#pragma GCC unroll 2
#endif
    for (uint32_t g = 2; g < groups; ++g) {
      const auto next = valuesHere(inWindow);
      advance();
      frames(values);
      values = values1;
      values1 = next;
    }
    frames(values);
    frames(values1);
  };
  // A group's element index moves monotonically with the group, so when the
  // first and the last group's windows fit, every one between does: the
  // loop then leaves out the test (most stretches; the others near a
  // sample's start or end).
  if constexpr (kFetch != Fetch::gather) {
    if (windowFits(position >> 32) &&
        windowFits((position + static_cast<int64_t>(groups - 1) * groupIncrement) >> 32)) {
      mixAllGroups(std::true_type{});
    } else {
      mixAllGroups(std::false_type{});
    }
  } else {
    mixAllGroups(std::false_type{});
  }

  // The rest, fewer samples than a group (count >= lanes): one more group
  // ending at the stretch's end, the samples it shares with the last one masked.
  const auto rest = count % static_cast<uint32_t>(lanes);
  if (rest == 0) return;
  const uint32_t shared = static_cast<uint32_t>(lanes) - rest;
  position -= static_cast<int64_t>(shared) * s.increment;
  out -= 2 * static_cast<size_t>(shared);
  const auto back = hn::Set(du, static_cast<uint32_t>(static_cast<int64_t>(shared) * s.increment));
  f = hn::Sub(f, back);
#if HWY_ARCH_X86
  fFlipped = hn::Sub(fFlipped, hn::BitCast(d, back));
#endif
  if constexpr (kRamp) {
    const auto left = hn::BitCast(d, hn::Set(du, shared * s.deltaLeft));
    auto right = hn::BitCast(d, hn::Set(du, shared * s.deltaRight));
    if constexpr (kPackedGains) right = hn::OddEven(left, right);
    leftFirst = hn::Sub(leftFirst, left);
    leftLast = hn::Sub(leftLast, left);
    rightFirst = hn::Sub(rightFirst, right);
    rightLast = hn::Sub(rightLast, right);
  }
  keepFrom = 2 * static_cast<int32_t>(shared);
  framesHere(valuesHere(std::false_type{}), std::true_type{});
}

// The vector loop of a stretch. Knows the voice's readable bytes: the data up
// to its end, the guard and the zero tail.
class VectorLoop {
 public:
  VectorLoop(const int8_t* sampleData, int32_t end) : sampleData_(sampleData), end_(end) {}

  template <typename Element, bool kInterpolate, bool kRamp, bool kCentred>
  HWY_INLINE void mix(const Element* base, Stretch& s, uint32_t count) {
    const size_t lanes = hn::Lanes(MixTag());
    if (count < lanes) {
      mixSamples<Element, kInterpolate, kRamp, kCentred>(base, s, count);
      return;
    }
    const int64_t baseOffset = (reinterpret_cast<const int8_t*>(base) - sampleData_) / int64_t{sizeof(Element)};
    const GroupPlan plan = planGroups<Element>(lanes, s.increment, baseOffset, end_);
    // A ramping routine whose ramp has ended mixes with fixed gains.
    if (kRamp && s.deltaLeft == 0 && s.deltaRight == 0) {
      mixWith<Element, kInterpolate, false, kCentred>(base, s, count, plan);
    } else {
      mixWith<Element, kInterpolate, kRamp, kCentred>(base, s, count, plan);
    }
    // The groups took every sample, the rest included.
    s.position += static_cast<int64_t>(count) * s.increment;
    s.out += 2 * static_cast<int64_t>(count);
    if constexpr (kRamp) {
      s.left += count * s.deltaLeft;
      if constexpr (!kCentred) s.right += count * s.deltaRight;
    }
  }

 private:
  template <typename Element, bool kInterpolate, bool kRamp, bool kCentred>
  HWY_INLINE void mixWith(const Element* base, const Stretch& s, uint32_t count, const GroupPlan& plan) {
    if constexpr (kByteWindows) {
      if (plan.fetch == Fetch::groupWindow) {
        mixGroups<Fetch::groupWindow, Element, kInterpolate, kRamp, kCentred>(base, s, count, plan);
        return;
      }
#if HWY_MAX_BYTES == 64
      if (plan.fetch == Fetch::halfWindows) {
        mixGroups<Fetch::halfWindows, Element, kInterpolate, kRamp, kCentred>(base, s, count, plan);
        return;
      }
#endif
      if (plan.fetch == Fetch::blockWindows) {
        mixGroups<Fetch::blockWindows, Element, kInterpolate, kRamp, kCentred>(base, s, count, plan);
        return;
      }
    }
    mixGroups<Fetch::gather, Element, kInterpolate, kRamp, kCentred>(base, s, count, plan);
  }

  const int8_t* sampleData_;
  int32_t end_;
};

}  // namespace HWY_NAMESPACE
}  // namespace zv
HWY_AFTER_NAMESPACE();

#endif  // HWY_TARGET != HWY_SCALAR && HWY_TARGET != HWY_EMU128
#endif  // ZELVIX_MIXER_MIX_VECTOR_INL_H_
