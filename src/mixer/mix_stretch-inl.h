// The arithmetic of the mixing routines shared by the plain and the vector
// loops: stretches, the per-sample loop, the loop wrap. Compiled once for
// every instruction set that mix_routines.cpp builds (it is included per
// target, hence the toggled guard), so that each target's routines inline it.
#if defined(ZELVIX_MIXER_MIX_STRETCH_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef ZELVIX_MIXER_MIX_STRETCH_INL_H_
#undef ZELVIX_MIXER_MIX_STRETCH_INL_H_
#else
#define ZELVIX_MIXER_MIX_STRETCH_INL_H_
#endif

#include <hwy/highway.h>

#include <algorithm>
#include <cstdint>

#include "mixer/voices.h"

HWY_BEFORE_NAMESPACE();
namespace zv {
namespace HWY_NAMESPACE {

constexpr uint32_t kAccumulatorStart = 0x8058;  // lower half of F at a call's start
constexpr uint32_t kAccumulatorNudge = 8;       // added to it with every output sample
constexpr uint32_t kLongestStretch = 65535;
constexpr int64_t kOne = int64_t{1} << 32;  // one element in the 32.32 position
// The vector loops rely on F staying a multiple of 8.
static_assert(kAccumulatorStart % 8 == 0 && kAccumulatorNudge % 8 == 0);

// One stretch of output samples, within which neither the sample end nor the
// end of a ramp falls. The position is a 32.32 value: the element index (from
// `base`, negative on a mirrored pass) above the 32-bit accumulator F, so one
// 64-bit addition per sample moves F and carries into the index.
struct Stretch {
  int64_t position;
  int64_t increment;
  int32_t* out;     // first frame to add into
  uint32_t left;    // gains in use; wrap like the 32-bit sums they come from
  uint32_t right;
  uint32_t deltaLeft;
  uint32_t deltaRight;
};

inline int32_t wrapAdd(int32_t sum, int32_t value) {
  return static_cast<int32_t>(static_cast<uint32_t>(sum) + static_cast<uint32_t>(value));
}

// Element i of 8-bit or 16-bit data on the 16-bit scale.
template <typename Element>
inline int32_t element(const Element* base, int64_t i) {
  if constexpr (sizeof(Element) == 1) return static_cast<int32_t>(base[i]) * 256;
  else return base[i];
}

// floor(I x gain / 2^20) with a 64-bit product, truncated to 32 bits.
inline int32_t scaled(int32_t value, uint32_t gain) {
  return static_cast<int32_t>((static_cast<int64_t>(value) * static_cast<int32_t>(gain)) >> 20);
}

template <typename Element, bool kInterpolate, bool kRamp, bool kCentred>
inline void mixOneSample(const Element* base, Stretch& s) {
  const int64_t i = s.position >> 32;
  int32_t value = element(base, i);
  if constexpr (kInterpolate) {
    const uint32_t f = static_cast<uint32_t>(s.position);
    if constexpr (sizeof(Element) == 1) {  // 256 x d x F / 2^33 = d x F / 2^25
      const int64_t d = int64_t{base[i + 1]} - base[i];
      value += 2 * static_cast<int32_t>((d * f) >> 25);
    } else {
      const int64_t d = int64_t{base[i + 1]} - value;
      value += 2 * static_cast<int32_t>((d * f) >> 33);
    }
  }
  const int32_t left = scaled(value, s.left);
  s.out[0] = wrapAdd(s.out[0], left);
  s.out[1] = wrapAdd(s.out[1], kCentred ? left : scaled(value, s.right));
  s.out += 2;
  s.position += s.increment;
  if constexpr (kRamp) {
    s.left += s.deltaLeft;
    if constexpr (!kCentred) s.right += s.deltaRight;
  }
}

// `count` samples, the remainder of a division by four first, then four at a time.
template <typename Element, bool kInterpolate, bool kRamp, bool kCentred>
void mixSamples(const Element* base, Stretch& s, uint32_t count) {
  Stretch r = s;  // in registers for the whole loop
  for (uint32_t n = count & 3; n != 0; --n) mixOneSample<Element, kInterpolate, kRamp, kCentred>(base, r);
  for (uint32_t n = count >> 2; n != 0; --n) {
    mixOneSample<Element, kInterpolate, kRamp, kCentred>(base, r);
    mixOneSample<Element, kInterpolate, kRamp, kCentred>(base, r);
    mixOneSample<Element, kInterpolate, kRamp, kCentred>(base, r);
    mixOneSample<Element, kInterpolate, kRamp, kCentred>(base, r);
  }
  s = r;
}

// The plain loop of a stretch.
struct PlainLoop {
  template <typename Element, bool kInterpolate, bool kRamp, bool kCentred>
  void mix(const Element* base, Stretch& s, uint32_t count) {
    mixSamples<Element, kInterpolate, kRamp, kCentred>(base, s, count);
  }
};

// Output samples until the position first reaches or passes `end`, or
// `wanted` when that is fewer. One division, left out when `wanted` samples
// cannot reach the end (the quotient itself can exceed 32 bits: a step of
// 1/65536 from 65535 frames away).
inline uint32_t samplesToEnd(const Voice& v, uint32_t wanted) {
  if (v.step == 0) return std::min(kLongestStretch, wanted);
  const uint32_t d = static_cast<uint32_t>(std::min<int64_t>(int64_t{v.end} - v.position - 1, kLongestStretch));
  const uint32_t q = d * 65536u + (65535u - (v.fraction >> 16));
  // floor(q / step) + 1 >= wanted exactly when (wanted - 1) x step <= q.
  if (wanted == 0 || uint64_t{wanted - 1} * v.step <= q) return wanted;
  return q / v.step + 1;
}

// Wraps a position at or past the end of a looped voice: loopLength is
// subtracted, and backwards toggled, as often as it takes (in one division).
// False when the voice stopped instead (no loop, or an empty one).
inline bool wrapAtEnd(Voice& v, int64_t& position) {
  if ((v.flags & Voice::loopKind) == 0 || v.loopLength <= 0) {
    v.flags = Voice::stopped;
    return false;
  }
  const int64_t past = position - v.end;
  const int64_t wraps = past < v.loopLength ? 1 : past / v.loopLength + 1;
  position -= wraps * v.loopLength;
  if (wraps & 1) v.flags ^= Voice::backwards;
  return true;
}

// A whole call of one routine: stretches up to the end, a ramp's end or the
// call's end, each mixed by `loop`, then the loop wrap or the stop.
template <typename Element, bool kInterpolate, bool kRamp, bool kCentred, typename Loop>
HWY_INLINE void mixStretches(Voice& v, int32_t count, int32_t* out, Loop& loop) {
  if (count <= 0) return;
  Stretch s;
  s.out = out;
  if constexpr (kRamp) {
    s.deltaLeft = static_cast<uint32_t>(v.rampDeltaLeft);
    s.deltaRight = static_cast<uint32_t>(v.rampDeltaRight);
  } else {
    s.left = static_cast<uint32_t>(v.targetLeft);
    s.right = static_cast<uint32_t>(v.targetRight);
    s.deltaLeft = s.deltaRight = 0;
  }
  uint32_t lower = kAccumulatorStart;
  uint32_t remaining = static_cast<uint32_t>(count);
  while (remaining != 0) {
    if (v.position < 0 || v.position >= v.end) {  // only a voice set up by hand gets here
      int64_t position = v.position;
      if (position < 0 || !wrapAtEnd(v, position)) {
        v.flags = Voice::stopped;
        return;
      }
      v.position = static_cast<int32_t>(position);
      continue;
    }
    uint32_t m = samplesToEnd(v, remaining);
    if constexpr (kRamp) {
      if (v.rampSamplesLeft > 0) {
        m = std::min(m, static_cast<uint32_t>(v.rampSamplesLeft));
        v.rampSamplesLeft -= static_cast<int32_t>(m);
      } else {
        s.deltaLeft = s.deltaRight = 0;
      }
      s.left = static_cast<uint32_t>(v.currentLeft);
      s.right = static_cast<uint32_t>(v.currentRight);
    }

    // Mirrored, the data are walked backwards: the fraction is inverted and
    // the step negated (as a 64-bit value, so that steps of 2^31 and more
    // still count as unsigned).
    const bool mirrored = (v.flags & 0x06) == 0x06;
    const uint32_t fractionFlip = mirrored ? 0xFFFF0000u : 0;
    const int64_t index = mirrored ? -1 - int64_t{v.position} : int64_t{v.position};
    const uint32_t f = ((v.fraction & 0xFFFF0000u) ^ fractionFlip) + lower;
    s.position = index * kOne + f;
    s.increment = (mirrored ? -int64_t{v.step} : int64_t{v.step}) * 65536 + kAccumulatorNudge;
    const Element* base = reinterpret_cast<const Element*>(mirrored ? v.reverseBase : v.sampleData);
    loop.template mix<Element, kInterpolate, kRamp, kCentred>(base, s, m);

    const int64_t endIndex = s.position >> 32;
    const uint32_t endF = static_cast<uint32_t>(s.position) ^ fractionFlip;
    lower = endF & 0xFFFFu;
    int64_t position = mirrored ? -1 - endIndex : endIndex;
    uint32_t fraction = endF & 0xFFFF0000u;
    if constexpr (kRamp) {
      v.currentLeft = static_cast<int32_t>(s.left);
      v.currentRight = kCentred ? static_cast<int32_t>(static_cast<uint32_t>(v.currentRight) + m * s.deltaRight)
                                : static_cast<int32_t>(s.right);
    }
    remaining -= m;
    if (position >= v.end && !wrapAtEnd(v, position)) return;
    // A zero step on a backward pass creeps towards the loop start through the
    // accumulator's carries; it is held there so reads stay inside the loop.
    if (mirrored && position < v.loopStart) {
      position = v.loopStart;
      fraction = 0;
    }
    v.position = static_cast<int32_t>(position);
    v.fraction = fraction;
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace zv
HWY_AFTER_NAMESPACE();

#endif  // ZELVIX_MIXER_MIX_STRETCH_INL_H_
