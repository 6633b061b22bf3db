// Each of the 16 mixing routines in nanoseconds per output frame, on a
// looped sample at a typical step, in calls of one 44.1 kHz tick (882 frames).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/player_settings.h"
#include "mixer/mix_routines.h"
#include "mixer/voices.h"

namespace {

constexpr int32_t kFrames = 20000;
constexpr int32_t kCallFrames = 882;

struct BenchSample {
  std::vector<int8_t> bytes;
  explicit BenchSample(bool sixteenBit) : bytes(static_cast<size_t>(kFrames) * (sixteenBit ? 2 : 1) + 8, 0) {
    uint32_t x = 12345;
    for (size_t i = 0; i + 8 < bytes.size(); ++i) {
      x = x * 1103515245u + 12345u;
      bytes[i] = static_cast<int8_t>(x >> 24);
    }
  }
};

void mixRoutineBench(benchmark::State& state) {
  const int routine = static_cast<int>(state.range(0));
  const uint32_t step = static_cast<uint32_t>(state.range(1));
  const bool wide = state.range(2) != 0;
  if (wide && !zv::wideMixingAvailable()) {
    state.SkipWithError("no 512-bit vectors on this processor");
    return;
  }
  zv::useWideMixing(wide);
  const bool sixteenBit = routine & 4;
  const bool ramping = routine & 2;
  static BenchSample eight(false), sixteen(true);
  const BenchSample& sample = sixteenBit ? sixteen : eight;
  std::vector<int32_t> sums(2 * kCallFrames, 0);
  zv::player.mixBuffer = sums.data();
  zv::player.mixBufferFrames = kCallFrames;

  zv::Voice v{};
  v.sampleData = sample.bytes.data();
  v.flags = 0x01 | (sixteenBit ? zv::Voice::sixteenBit : 0);  // forward loop over the whole sample
  v.loopStart = 1000;
  v.loopLength = kFrames - 1000;
  v.end = kFrames;
  v.reverseBase = v.sampleData + (2 * v.loopStart + v.loopLength) * (sixteenBit ? 2 : 1);
  v.step = step;
  v.mixRoutine = routine & 7;
  const bool centred = routine & 8;
  v.targetLeft = v.currentLeft = 40000000;
  v.targetRight = v.currentRight = centred ? 40000000 : 25000000;
  for (auto _ : state) {
    if (ramping) {  // a ramp across the whole call, as after a volume change
      v.rampDeltaLeft = 3;
      v.rampDeltaRight = centred ? 3 : -2;
      v.rampSamplesLeft = kCallFrames;
      v.currentLeft = 40000000;
      v.currentRight = centred ? 40000000 : 25000000;
    }
    zv::mixRoutines[routine](v, kCallFrames, 0);
    benchmark::DoNotOptimize(sums.data());
    benchmark::ClobberMemory();
  }
  // Seconds per output frame (printed with its SI prefix, so "1.2n" is 1.2 ns).
  state.counters["per_frame"] =
      benchmark::Counter(kCallFrames, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.SetLabel(std::string(sixteenBit ? "16-bit" : "8-bit") + ((routine & 1) ? " interp" : "") +
                 (ramping ? " ramp" : "") + (centred ? " centred" : " stereo") + (wide ? " wide" : " plain"));
  zv::useWideMixing(true);
  zv::player.mixBuffer = nullptr;
  zv::player.mixBufferFrames = 0;
}

// Arguments: routine, step (16.16), 512-bit vector loops (1) or the plain loops (0).
BENCHMARK(mixRoutineBench)->ArgsProduct({benchmark::CreateDenseRange(0, 15, 1), {0x13A00}, {1, 0}});
// The fullest routines at a slow, a unit and a fast step.
BENCHMARK(mixRoutineBench)->ArgsProduct({{3, 7, 11, 15}, {0x4000, 0x10000, 0x38000}, {1}});

}  // namespace

// The benchmark executable's entry point, weak so that another benchmark file
// may provide its own.
__attribute__((weak)) int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
