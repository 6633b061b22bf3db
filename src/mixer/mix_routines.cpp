// The 16 mixing routines, compiled once for every instruction set Highway
// targets (this file is included again per target through foreach_target.h),
// the choice of one set at start-up, and mixVoice.
// Not built: SSSE3 (no 32 x 32 -> 64-bit signed multiply; processors before
// 2008) and the fixed-width SVE variants, which the generic SVE code covers.
#ifndef HWY_DISABLED_TARGETS
#define HWY_DISABLED_TARGETS (HWY_SSSE3 | HWY_SVE_256 | HWY_SVE2_128)
#endif
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "mixer/mix_routines.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <hwy/highway.h>
#include "mixer/mix_routines.h"
#include "mixer/mix_stretch-inl.h"
#include "mixer/mix_vector-inl.h"

HWY_BEFORE_NAMESPACE();
namespace zv {
namespace HWY_NAMESPACE {
namespace {

#if HWY_TARGET != HWY_SCALAR && HWY_TARGET != HWY_EMU128
template <typename Element, bool kInterpolate, bool kRamp, bool kCentred>
void vectorRoutine(Voice& v, int32_t count, int32_t* out) {
  VectorLoop loop(v.sampleData, v.end);
  mixStretches<Element, kInterpolate, kRamp, kCentred>(v, count, out, loop);
}
#endif

template <typename Element, bool kInterpolate, bool kRamp, bool kCentred>
void plainRoutine(Voice& v, int32_t count, int32_t* out) {
  PlainLoop loop;
  mixStretches<Element, kInterpolate, kRamp, kCentred>(v, count, out, loop);
}

}  // namespace

// The table of one loop, indexed by bit 0 interpolation, bit 1 ramping, bit 2
// 16-bit data, bit 3 centred.
// clang-format off
#define ZV_MIX_TABLE(routine)                                                          \
  {                                                                                    \
    routine<int8_t, false, false, false>,  routine<int8_t, true, false, false>,        \
    routine<int8_t, false, true, false>,   routine<int8_t, true, true, false>,         \
    routine<int16_t, false, false, false>, routine<int16_t, true, false, false>,       \
    routine<int16_t, false, true, false>,  routine<int16_t, true, true, false>,        \
    routine<int8_t, false, false, true>,   routine<int8_t, true, false, true>,         \
    routine<int8_t, false, true, true>,    routine<int8_t, true, true, true>,          \
    routine<int16_t, false, false, true>,  routine<int16_t, true, false, true>,        \
    routine<int16_t, false, true, true>,   routine<int16_t, true, true, true>,         \
  }
// clang-format on

#if HWY_TARGET != HWY_SCALAR && HWY_TARGET != HWY_EMU128
extern const MixRoutine kVectorRoutines[16];
const MixRoutine kVectorRoutines[16] = ZV_MIX_TABLE(vectorRoutine);
#endif
#if HWY_TARGET == HWY_STATIC_TARGET
// The plain loop, built for the processor the program is built for.
extern const MixRoutine kPlainRoutines[16];
const MixRoutine kPlainRoutines[16] = ZV_MIX_TABLE(plainRoutine);
#endif

#undef ZV_MIX_TABLE

}  // namespace HWY_NAMESPACE
}  // namespace zv
HWY_AFTER_NAMESPACE();

#if HWY_ONCE

#include <strings.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#if HWY_ARCH_X86
#include <cpuid.h>
#elif HWY_ARCH_ARM_A64 && defined(__linux__)
#include <sys/auxv.h>
#endif

namespace zv {

namespace {

// Every vector target this build holds, best first, with the Highway target
// it needs; the plain loop last.
struct BuiltTarget {
  MixTarget target;
  int64_t needs;  // 0: runs everywhere
};

const BuiltTarget kBuiltTargets[] = {
#if HWY_TARGETS & HWY_AVX3
    {{"avx512", N_AVX3::kVectorRoutines}, HWY_AVX3},
#endif
#if HWY_TARGETS & HWY_AVX2
    {{"avx2", N_AVX2::kVectorRoutines}, HWY_AVX2},
#endif
#if HWY_TARGETS & HWY_SSE4
    {{"sse4", N_SSE4::kVectorRoutines}, HWY_SSE4},
#endif
#if HWY_TARGETS & HWY_SVE2
    {{"sve2", N_SVE2::kVectorRoutines}, HWY_SVE2},
#endif
#if HWY_TARGETS & HWY_SVE
    {{"sve", N_SVE::kVectorRoutines}, HWY_SVE},
#endif
#if HWY_TARGETS & HWY_NEON
    {{"neon", N_NEON::kVectorRoutines}, HWY_NEON},
#endif
    {{"scalar", HWY_NAMESPACE::kPlainRoutines}, 0},
};
constexpr size_t kBuiltTargetCount = sizeof(kBuiltTargets) / sizeof(kBuiltTargets[0]);

struct TargetList {
  MixTarget targets[kBuiltTargetCount];
  size_t count = 0;
};

#if HWY_ARCH_X86
// F16C straight from the processor's feature leaf: clang's
// __builtin_cpu_supports has no name for it. The AVX test beside it covers
// the system's saving of the registers.
bool hasF16c() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  return __get_cpuid(1, &a, &b, &c, &d) != 0 && (c & bit_F16C) != 0;
}
#endif

// Whether the processor (and the system, which must save the wider
// registers) runs the code built for a Highway target: every feature its
// compiler target string turns on. Asked here rather than of Highway's
// library, whose start-up spends milliseconds timing its clock, a cost every
// run of the program would pay.
bool processorRuns(int64_t target) {
#if HWY_ARCH_X86
  __builtin_cpu_init();
  const bool sse4 = __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("sse4.1") &&
                    __builtin_cpu_supports("sse4.2") && __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("aes");
  const bool avx2 = sse4 && __builtin_cpu_supports("avx") && __builtin_cpu_supports("avx2") &&
                    __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("fma") &&
                    hasF16c();
  const bool avx512 = avx2 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
                      __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512bw");
  if (target == HWY_SSE4) return sse4;
  if (target == HWY_AVX2) return avx2;
  if (target == HWY_AVX3) return avx512;
#elif HWY_ARCH_ARM_A64 && defined(__linux__)
  const unsigned long hwcap = getauxval(AT_HWCAP);
  const unsigned long hwcap2 = getauxval(AT_HWCAP2);
  if (target == HWY_NEON) return (hwcap & HWCAP_ASIMD) && (hwcap & HWCAP_AES) && (hwcap & HWCAP_PMULL) && (hwcap & HWCAP_SHA2);
  if (target == HWY_SVE) return (hwcap & HWCAP_SVE) != 0;
  if (target == HWY_SVE2) return (hwcap & HWCAP_SVE) && (hwcap2 & HWCAP2_SVE2) && (hwcap2 & HWCAP2_SVEAES);
#endif
  (void)target;
  return false;
}

TargetList findTargets() {
  TargetList list;
  for (const BuiltTarget& built : kBuiltTargets) {
    if (built.needs == 0 || processorRuns(built.needs)) list.targets[list.count++] = built.target;
  }
  return list;
}

// A function's static, so that other files' static objects (benchmark
// registrations) may ask for it.
const TargetList& availableTargets() {
  static const TargetList list = findTargets();
  return list;
}

const MixTarget* targetInUse = &mixTargetFor(std::getenv("ZELVIX_SIMD"));

// No sound: the position moves by count x step in exact 16.16 arithmetic.
void advanceSilently(Voice& v, int32_t count) {
  const uint64_t p = uint64_t{static_cast<uint32_t>(count)} * v.step;
  const uint64_t lo = (p & 0xFFFFu) + (v.fraction >> 16);
  int64_t position = int64_t{v.position} + static_cast<int64_t>(p >> 16) + static_cast<int64_t>(lo >> 16);
  if (position >= v.end && !HWY_NAMESPACE::wrapAtEnd(v, position)) return;
  v.position = static_cast<int32_t>(position);
  v.fraction = static_cast<uint32_t>(lo & 0xFFFFu) << 16;
}

}  // namespace

const MixRoutine* mixRoutines = targetInUse->routines;

std::span<const MixTarget> mixTargets() { return {availableTargets().targets, availableTargets().count}; }

// The named target when the processor runs it, else the best.
const MixTarget& mixTargetFor(const char* simdVariable) {
  const TargetList& list = availableTargets();
  for (size_t i = 0; simdVariable != nullptr && i < list.count; ++i) {
    if (strcasecmp(simdVariable, list.targets[i].name) == 0) return list.targets[i];
  }
  return list.targets[0];
}

const MixTarget& mixTargetInUse() { return *targetInUse; }

void useMixTarget(const MixTarget& target) {
  targetInUse = &target;
  mixRoutines = target.routines;
}

void mixVoice(const PlayerSettings& player, Voice& voice, int32_t count, int32_t offset) {
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
  mixRoutines[(voice.mixRoutine & 7) + (centred ? 8 : 0)](voice, count, player.mixBuffer + 2 * static_cast<int64_t>(offset));
}

}  // namespace zv

#if HWY_IS_DEBUG_BUILD
// Highway's debug checks (HWY_DASSERT in its vector operations), compiled in
// where HWY_IS_DEBUG_BUILD holds (an unoptimised build without NDEBUG, or a
// sanitizer build under clang), report a broken check through hwy::Abort,
// which only Highway's library defines. The program does not link that
// library, whose start-up times its clock for milliseconds of every run, so
// the builds that compile the checks in get this one: the place and the
// message on standard error, then abort().
namespace hwy {

void Abort(const char* file, int line, const char* format, ...) {
  std::fprintf(stderr, "Abort at %s:%d: ", file, line);
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(stderr, format, arguments);
  va_end(arguments);
  std::fputc('\n', stderr);
  std::abort();
}

}  // namespace hwy
#endif  // HWY_IS_DEBUG_BUILD

#endif  // HWY_ONCE
