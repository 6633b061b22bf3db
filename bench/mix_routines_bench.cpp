// Each of the 16 mixing routines of every instruction set in nanoseconds per
// output frame (one voice, one frame: a voice-frame), on a looped sample at
// typical steps, in calls of one 44.1 kHz tick (882 frames).
//
//   zelvix_bench --benchmark_filter=mixRoutine/avx2/
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

// One routine of one instruction set on a voice looping over the whole sample.
void mixRoutineBench(benchmark::State& state, const zv::MixTarget* target, int routine, uint32_t step) {
  const zv::MixTarget& saved = zv::mixTargetInUse();
  zv::useMixTarget(*target);
  const bool sixteenBit = routine & 4;
  const bool ramping = routine & 2;
  static BenchSample eight(false), sixteen(true);
  const BenchSample& sample = sixteenBit ? sixteen : eight;
  std::vector<int32_t> sums(2 * kCallFrames, 0);

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
    zv::mixRoutines[routine](v, kCallFrames, sums.data());
    benchmark::DoNotOptimize(sums.data());
    benchmark::ClobberMemory();
  }
  // Seconds per output frame (printed with its SI prefix, so "1.2n" is 1.2 ns).
  state.counters["per_frame"] =
      benchmark::Counter(kCallFrames, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.SetLabel(std::string(sixteenBit ? "16-bit" : "8-bit") + ((routine & 1) ? " interp" : "") +
                 (ramping ? " ramp" : "") + (centred ? " centred" : " stereo"));
  zv::useMixTarget(saved);
}

// mixRoutine/TARGET/ROUTINE/STEP for every instruction set the processor runs:
// all 16 routines at a step of 1.23 frames, and the fullest routines at slow
// (0.25, 0.69), unit and fast (3.5) steps.
struct RoutineBenchmarks {
  RoutineBenchmarks() {
    for (const zv::MixTarget& target : zv::mixTargets()) {
      const auto add = [&](int routine, uint32_t step) {
        const std::string name = std::string("mixRoutine/") + target.name + "/" + std::to_string(routine) + "/" +
                                 std::to_string(step);
        benchmark::RegisterBenchmark(name.c_str(), mixRoutineBench, &target, routine, step);
      };
      for (int routine = 0; routine < 16; ++routine) add(routine, 0x13A00);
      for (int routine : {3, 7, 11, 15}) {
        for (uint32_t step : {0x4000u, 0xB000u, 0x10000u, 0x38000u}) add(routine, step);
      }
    }
  }
};
const RoutineBenchmarks routineBenchmarks;

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
