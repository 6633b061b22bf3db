#include "mixer/mix_routines.h"

#include <algorithm>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define ZV_WIDE_MIXING 1
#endif

#include "core/player_settings.h"

namespace zv {

namespace {

constexpr uint32_t kAccumulatorStart = 0x8058;  // lower half of F at a call's start
constexpr uint32_t kAccumulatorNudge = 8;       // added to it with every output sample
constexpr uint32_t kLongestStretch = 65535;
constexpr int64_t kOne = int64_t{1} << 32;  // one element in the 32.32 position
// The vector loop relies on F staying even.
static_assert(kAccumulatorStart % 2 == 0 && kAccumulatorNudge % 2 == 0);

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

#ifdef ZV_WIDE_MIXING

#define ZV_WIDE_TARGET __attribute__((target("avx512f,avx512bw,avx512dq")))
// GCC's 512-bit intrinsics seed their results with deliberately undefined
// values, which its own warning mistakes for uninitialised reads.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

bool wideMixingSupported() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512dq");
}

const bool wideMixingPresent = wideMixingSupported();
bool wideMixingOn = wideMixingPresent;

// The state of the vector loop for 16 consecutive samples: the halves of
// their 32.32 positions (index and accumulator F) in 32-bit lanes, and their
// gains with sample k in the low half of 64-bit lane k: `left` for samples
// 0..7, `leftHigh` for 8..15.
struct WideStretch {
  __m512i index, f;
  __m512i indexAdvance, fAdvance;  // the halves of 16 increments
  __m512i left, leftHigh, right, rightHigh;
  __m512i leftStep, rightStep;     // 16 ramp deltas, in the same layout
};

// Adds 16 samples (the first n of them when kPartial) into the frames at
// `out`. Both elements of each position come from one 32-bit gather: for
// 8-bit data it reads the element and the three bytes behind it, which stays
// inside the guard and the zero tail the loader puts behind the data. The
// arithmetic is the scalar loop's, lane by lane.
template <typename Element, bool kInterpolate, bool kRamp, bool kCentred, bool kPartial>
ZV_WIDE_TARGET __attribute__((always_inline)) inline void mixGroup(const Element* base, WideStretch& w, int32_t* out,
                                                                   uint32_t n) {
  // 8-bit data: bytes 0 and 1 of each dword to the high bytes of its two halves (pshufb indexes per 128 bits).
  const __m512i widenBytes = _mm512_set4_epi32(0x0D800C80, 0x09800880, 0x05800480, 0x01800080);
  const __m512i firstSamples = _mm512_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7);
  const __m512i lastSamples = _mm512_setr_epi32(8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14, 15, 15);

  // A zeroed destination: a gather merges into it, and an old value would
  // chain each group to the previous one. (The empty asm keeps the compiler
  // from dropping the zero for a full mask.)
  __mmask16 lanes = kPartial ? static_cast<__mmask16>((1u << n) - 1) : static_cast<__mmask16>(0xFFFF);
  asm("" : "+k"(lanes));
  __m512i pair = _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), lanes, w.index, base, sizeof(Element));
  if constexpr (sizeof(Element) == 1) pair = _mm512_shuffle_epi8(pair, widenBytes);
  // pair: S0 in the low 16 bits, S1 in the high 16 bits, on the 16-bit scale.
  __m512i value = _mm512_srai_epi32(_mm512_slli_epi32(pair, 16), 16);
  if constexpr (kInterpolate) {
    // F is always even (its lower half starts even and grows by 8), so
    // floor(d x F / 2^33) is the high half of the signed product d x (F / 2).
    const __m512i d = _mm512_sub_epi32(_mm512_srai_epi32(pair, 16), value);
    const __m512i halfF = _mm512_srli_epi32(w.f, 1);
    const __m512i even = _mm512_srli_epi64(_mm512_mul_epi32(d, halfF), 32);
    const __m512i odd = _mm512_mul_epi32(_mm512_srli_epi64(d, 32), _mm512_srli_epi64(halfF, 32));
    const __m512i high = _mm512_mask_blend_epi32(0xAAAA, even, odd);
    value = _mm512_add_epi32(value, _mm512_add_epi32(high, high));
  }

  // Advance the positions: 16 increments added to F carry at most once into the index.
  const __m512i f = _mm512_add_epi32(w.f, w.fAdvance);
  w.index = _mm512_mask_sub_epi32(_mm512_add_epi32(w.index, w.indexAdvance), _mm512_cmplt_epu32_mask(f, w.fAdvance),
                                  _mm512_add_epi32(w.index, w.indexAdvance), _mm512_set1_epi32(-1));
  w.f = f;

  // floor(I x gain / 2^20) is the high half of the 64-bit product (I x 2^12) x gain,
  // exact since |I| <= 32768; sample k's value sits in the low half of 64-bit lane k.
  const __m512i scaled = _mm512_slli_epi32(value, 12);
  const __m512i first = _mm512_permutexvar_epi32(firstSamples, scaled);
  const __m512i last = _mm512_permutexvar_epi32(lastSamples, scaled);
  __m512i firstFrames, lastFrames;
  if constexpr (kCentred) {
    // The high halves, copied into both halves of each frame.
    firstFrames = _mm512_shuffle_epi32(_mm512_mul_epi32(first, w.left), _MM_PERM_DDBB);
    lastFrames = _mm512_shuffle_epi32(_mm512_mul_epi32(last, w.leftHigh), _MM_PERM_DDBB);
  } else {
    // Left from the high half moved down, right in its place.
    firstFrames = _mm512_mask_blend_epi32(0xAAAA, _mm512_srli_epi64(_mm512_mul_epi32(first, w.left), 32),
                                          _mm512_mul_epi32(first, w.right));
    lastFrames = _mm512_mask_blend_epi32(0xAAAA, _mm512_srli_epi64(_mm512_mul_epi32(last, w.leftHigh), 32),
                                         _mm512_mul_epi32(last, w.rightHigh));
  }
  if constexpr (kRamp) {
    w.left = _mm512_add_epi32(w.left, w.leftStep);
    w.leftHigh = _mm512_add_epi32(w.leftHigh, w.leftStep);
    if constexpr (!kCentred) {
      w.right = _mm512_add_epi32(w.right, w.rightStep);
      w.rightHigh = _mm512_add_epi32(w.rightHigh, w.rightStep);
    }
  }

  if constexpr (kPartial) {
    const uint32_t sums = 2 * n;  // values to add, 2 to 30
    const __mmask16 firstActive = static_cast<__mmask16>(sums >= 16 ? 0xFFFF : (1u << sums) - 1);
    const __mmask16 lastActive = static_cast<__mmask16>(sums <= 16 ? 0 : (1u << (sums - 16)) - 1);
    _mm512_mask_storeu_epi32(out, firstActive,
                             _mm512_add_epi32(_mm512_maskz_loadu_epi32(firstActive, out), firstFrames));
    _mm512_mask_storeu_epi32(out + 16, lastActive,
                             _mm512_add_epi32(_mm512_maskz_loadu_epi32(lastActive, out + 16), lastFrames));
  } else {
    _mm512_storeu_si512(out, _mm512_add_epi32(_mm512_loadu_si512(out), firstFrames));
    _mm512_storeu_si512(out + 16, _mm512_add_epi32(_mm512_loadu_si512(out + 16), lastFrames));
  }
}

// Sample k's offsets from the first sample of a group: the halves of k
// increments and k ramp deltas. Prepared once per call for the increment
// and deltas in use (a ping-pong voice alternates between two increments).
template <bool kRamp, bool kCentred>
class WideLoop {
 public:
  template <typename Element, bool kInterpolate, bool, bool>
  ZV_WIDE_TARGET inline void mix(const Element* base, Stretch& s, uint32_t count) {
    if (count < kShortestWideStretch) {
      mixSamples<Element, kInterpolate, kRamp, kCentred>(base, s, count);
      return;
    }
    if (!positionsReady_ || s.increment != increment_) preparePositions(s.increment);
    if (!gainsReady_ || s.deltaLeft != deltaLeft_ || s.deltaRight != deltaRight_) prepareGains(s.deltaLeft, s.deltaRight);
    const __m512i index = _mm512_add_epi32(_mm512_set1_epi32(static_cast<int32_t>(s.position >> 32)), indexOffset_);
    w_.f = _mm512_add_epi32(_mm512_set1_epi32(static_cast<int32_t>(s.position)), fOffset_);
    w_.index = _mm512_mask_sub_epi32(index, _mm512_cmplt_epu32_mask(w_.f, fOffset_), index, _mm512_set1_epi32(-1));
    const __m512i left = _mm512_set1_epi64(s.left);
    const __m512i right = _mm512_set1_epi64(s.right);
    w_.left = _mm512_add_epi32(left, leftOffset_);
    w_.leftHigh = _mm512_add_epi32(left, leftOffsetHigh_);
    w_.right = _mm512_add_epi32(right, rightOffset_);
    w_.rightHigh = _mm512_add_epi32(right, rightOffsetHigh_);

    int32_t* out = s.out;
    for (uint32_t groups = count / 16; groups != 0; --groups, out += 32)
      mixGroup<Element, kInterpolate, kRamp, kCentred, false>(base, w_, out, 16);
    if (count % 16) mixGroup<Element, kInterpolate, kRamp, kCentred, true>(base, w_, out, count % 16);

    s.out += 2 * static_cast<int64_t>(count);
    s.position += static_cast<int64_t>(count) * s.increment;
    if constexpr (kRamp) {
      s.left += count * s.deltaLeft;
      if constexpr (!kCentred) s.right += count * s.deltaRight;
    }
  }

 private:
  // Below this the set-up costs more than the plain loop.
  static constexpr uint32_t kShortestWideStretch = 12;

  ZV_WIDE_TARGET void preparePositions(int64_t increment) {
    alignas(64) int32_t high[16];
    alignas(64) uint32_t low[16];
    for (int k = 0; k < 16; ++k) {
      const uint64_t offset = static_cast<uint64_t>(increment) * static_cast<uint64_t>(k);
      high[k] = static_cast<int32_t>(offset >> 32);
      low[k] = static_cast<uint32_t>(offset);
    }
    const uint64_t advance = static_cast<uint64_t>(increment) * 16;
    indexOffset_ = _mm512_load_si512(high);
    fOffset_ = _mm512_load_si512(low);
    w_.indexAdvance = _mm512_set1_epi32(static_cast<int32_t>(advance >> 32));
    w_.fAdvance = _mm512_set1_epi32(static_cast<int32_t>(advance));
    increment_ = increment;
    positionsReady_ = true;
  }

  ZV_WIDE_TARGET void prepareGains(uint32_t deltaLeft, uint32_t deltaRight) {
    alignas(64) uint64_t left[16];
    alignas(64) uint64_t right[16];
    for (uint32_t k = 0; k < 16; ++k) {
      left[k] = k * deltaLeft;
      right[k] = k * deltaRight;
    }
    leftOffset_ = _mm512_load_si512(left);
    leftOffsetHigh_ = _mm512_load_si512(left + 8);
    rightOffset_ = _mm512_load_si512(right);
    rightOffsetHigh_ = _mm512_load_si512(right + 8);
    w_.leftStep = _mm512_set1_epi64(16 * deltaLeft);
    w_.rightStep = _mm512_set1_epi64(16 * deltaRight);
    deltaLeft_ = deltaLeft;
    deltaRight_ = deltaRight;
    gainsReady_ = true;
  }

  WideStretch w_;
  __m512i indexOffset_, fOffset_;
  __m512i leftOffset_, leftOffsetHigh_, rightOffset_, rightOffsetHigh_;
  int64_t increment_ = 0;
  uint32_t deltaLeft_ = 0, deltaRight_ = 0;
  bool positionsReady_ = false, gainsReady_ = false;
};

#pragma GCC diagnostic pop

#endif  // ZV_WIDE_MIXING

// Output samples until the position first reaches or passes `end`: one
// division. The result can exceed 32 bits (a step of 1/65536 from 65535 frames away).
inline uint64_t samplesToEnd(const Voice& v) {
  if (v.step == 0) return kLongestStretch;
  const uint32_t d = static_cast<uint32_t>(std::min<int64_t>(int64_t{v.end} - v.position - 1, kLongestStretch));
  const uint32_t q = d * 65536u + (65535u - (v.fraction >> 16));
  return uint64_t{q / v.step} + 1;
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
__attribute__((always_inline)) inline void mixStretches(Voice& v, int32_t count, int32_t offset, Loop& loop) {
  if (count <= 0) return;
  Stretch s;
  s.out = player.mixBuffer + 2 * static_cast<int64_t>(offset);
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
    uint32_t m = static_cast<uint32_t>(std::min<uint64_t>(samplesToEnd(v), remaining));
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

#ifdef ZV_WIDE_MIXING
// Flattened, so that the loop's target-specific code is inlined here.
template <typename Element, bool kInterpolate, bool kRamp, bool kCentred>
ZV_WIDE_TARGET __attribute__((flatten)) void mixRoutineWide(Voice& v, int32_t count, int32_t offset) {
  WideLoop<kRamp, kCentred> loop;
  mixStretches<Element, kInterpolate, kRamp, kCentred>(v, count, offset, loop);
}
#endif

// One entry of the table: the vector loops where they are on, else the plain ones.
template <typename Element, bool kInterpolate, bool kRamp, bool kCentred>
void mixRoutine(Voice& v, int32_t count, int32_t offset) {
#ifdef ZV_WIDE_MIXING
  if (wideMixingOn) {
    mixRoutineWide<Element, kInterpolate, kRamp, kCentred>(v, count, offset);
    return;
  }
#endif
  PlainLoop loop;
  mixStretches<Element, kInterpolate, kRamp, kCentred>(v, count, offset, loop);
}

}  // namespace

const MixRoutine mixRoutines[16] = {
    mixRoutine<int8_t, false, false, false>,  mixRoutine<int8_t, true, false, false>,
    mixRoutine<int8_t, false, true, false>,   mixRoutine<int8_t, true, true, false>,
    mixRoutine<int16_t, false, false, false>, mixRoutine<int16_t, true, false, false>,
    mixRoutine<int16_t, false, true, false>,  mixRoutine<int16_t, true, true, false>,
    mixRoutine<int8_t, false, false, true>,   mixRoutine<int8_t, true, false, true>,
    mixRoutine<int8_t, false, true, true>,    mixRoutine<int8_t, true, true, true>,
    mixRoutine<int16_t, false, false, true>,  mixRoutine<int16_t, true, false, true>,
    mixRoutine<int16_t, false, true, true>,   mixRoutine<int16_t, true, true, true>,
};

namespace {

// No sound: the position moves by count x step in exact 16.16 arithmetic.
void advanceSilently(Voice& v, int32_t count) {
  const uint64_t p = uint64_t{static_cast<uint32_t>(count)} * v.step;
  const uint64_t lo = (p & 0xFFFFu) + (v.fraction >> 16);
  int64_t position = int64_t{v.position} + static_cast<int64_t>(p >> 16) + static_cast<int64_t>(lo >> 16);
  if (position >= v.end && !wrapAtEnd(v, position)) return;
  v.position = static_cast<int32_t>(position);
  v.fraction = static_cast<uint32_t>(lo & 0xFFFFu) << 16;
}

}  // namespace

bool wideMixingAvailable() {
#ifdef ZV_WIDE_MIXING
  return wideMixingPresent;
#else
  return false;
#endif
}

void useWideMixing([[maybe_unused]] bool on) {
#ifdef ZV_WIDE_MIXING
  wideMixingOn = on && wideMixingPresent;
#endif
}

void mixVoice(Voice& voice, int32_t count, int32_t offset) {
  if (voice.flags & Voice::stopped) return;
  if (count <= 0) return;
  const bool ramping = player.volumeRamping;
  if (voice.targetLeft == 0 && voice.targetRight == 0 &&
      (!ramping || (voice.currentLeft == 0 && voice.currentRight == 0))) {
    advanceSilently(voice, count);
    return;
  }
  // Never add outside the MixBuffer.
  if (player.mixBuffer == nullptr || offset < 0 || count > player.mixBufferFrames - offset) return;
  const bool centred = ramping ? (voice.currentLeft == voice.currentRight && voice.rampDeltaLeft == voice.rampDeltaRight)
                               : voice.targetLeft == voice.targetRight;
  mixRoutines[(voice.mixRoutine & 7) + (centred ? 8 : 0)](voice, count, offset);
}

}  // namespace zv
