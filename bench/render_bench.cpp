// Render throughput: seconds of audio per second of wall time for a whole
// render with its WAV file written (renderSongToWav, load excluded), for the
// demo, for a generated 32-channel module that keeps every voice sounding,
// and for every module of the corpus when it is present.
//
//   zelvix_bench --benchmark_filter=Render
//
// The counter audio_x is the speed-up over real time; audio_s the seconds
// of audio one render makes.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "audio/player.h"
#include "audio/wav_render.h"
#include "loader/module_loader.h"
#include "loader/song_memory.h"
#include "support/module_writer.h"

namespace {

using zv::NoteCell;
using zv::test::XmModulePlan;

std::string outputPath() {
  static const std::string path =
      (std::filesystem::temp_directory_path() / ("zelvix-render-bench-" + std::to_string(getpid()) + ".wav")).string();
  return path;
}

// Songs longer than this stop after this much audio.
constexpr uint32_t kMaxRenderBytes = 600u * 44100 * 4;

// One iteration: a fresh set-up as the program makes it (load untimed), then
// the whole render into the file (ten minutes at most).
void renderModule(benchmark::State& state, const std::vector<uint8_t>& module) {
  if (module.empty()) {
    state.SkipWithError("module missing");
    return;
  }
  const std::string path = outputPath();
  double audioSeconds = 0;
  // One engine for the benchmark, set up afresh for every render as the program sets up its own.
  const std::unique_ptr<zv::Engine> engine(new zv::Engine());
  zv::Engine& e = *engine;
  for (auto _ : state) {
    state.PauseTiming();
    zv::setupReplayer(e, 44100, 1024, true, true);
    zv::setAmp(e, 10);
    const bool loaded = zv::loadModuleFromMemory(e, module.data(), static_cast<uint32_t>(module.size()));
    e.renderActive = true;
    state.ResumeTiming();
    if (!loaded) {
      state.SkipWithError("module does not load");
      break;
    }
    if (zv::renderSongToWav(e, path.c_str(), kMaxRenderBytes) != zv::RenderResult::ok) {
      state.SkipWithError("render failed");
      break;
    }
    state.PauseTiming();
    std::error_code ignored;
    const auto bytes = std::filesystem::file_size(path, ignored);
    audioSeconds += static_cast<double>(bytes - zv::kWavHeaderBytes) / (44100.0 * 4);
    state.ResumeTiming();
  }
  std::remove(path.c_str());
  zv::freeSong(e);
  state.counters["audio_x"] = benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate);
  state.counters["audio_s"] = benchmark::Counter(audioSeconds, benchmark::Counter::kAvgIterations);
}

// 32 channels at speed 1: every channel starts a note on every row, so each
// channel's new voice plays while its old one fades out, 64 voices in all;
// looped 8- and 16-bit samples, panned across the field, interpolated and ramped.
std::vector<uint8_t> busyModule() {
  XmModulePlan plan;
  plan.channelCount = 32;
  plan.speed = 1;
  plan.tempo = 125;
  plan.songLength = 64;  // 64 x 64 rows of 1 tick: about 3 minutes
  for (int i = 0; i < 4; ++i) {
    zv::test::XmSamplePlan sample = zv::test::squareSample(2000 + 500 * i, 40 + 12 * i, 90);
    sample.sixteenBit = i % 2 == 1;
    if (sample.sixteenBit) {
      for (int16_t& v : sample.pcm) v = static_cast<int16_t>(v * 200);
    }
    sample.loopKind = i == 3 ? 2 : 1;
    sample.loopStart = 100;
    sample.loopLength = 1500;
    plan.instruments.push_back(zv::test::instrumentWith(sample));
  }
  plan.patterns.resize(1);
  for (int row = 0; row < 64; ++row) {
    for (int ch = 0; ch < 32; ++ch) {
      NoteCell& c = plan.cell(0, row, ch);
      c.note = static_cast<uint8_t>(25 + (row * 7 + ch * 5) % 48);
      c.instrument = static_cast<uint8_t>(1 + (ch + row) % 4);
      c.volumeColumn = static_cast<uint8_t>(0x10 + 32 + (ch % 32));
      if (ch % 4 == 0) c.effect = 8, c.effectParam = static_cast<uint8_t>(ch * 8);  // panning
    }
  }
  return zv::test::writeXm(plan);
}

void BM_RenderDemo(benchmark::State& state) {
  static const std::vector<uint8_t> demo = zv::test::readFile(std::string(ZELVIX_SOURCE_DIR) + "/examples/demo.xm");
  if (demo.empty()) {
    state.SkipWithError("examples/demo.xm missing");
    return;
  }
  renderModule(state, demo);
}
BENCHMARK(BM_RenderDemo)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RenderBusy32Channels(benchmark::State& state) {
  static const std::vector<uint8_t> busy = busyModule();
  renderModule(state, busy);
}
BENCHMARK(BM_RenderBusy32Channels)->Unit(benchmark::kMillisecond)->UseRealTime();

// The corpus, one benchmark per module; the target module runs five times
// so its median is reported.
struct CorpusBenchmarks {
  CorpusBenchmarks() {
    std::vector<std::filesystem::path> files;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(ZELVIX_CORPUS_DIR, ignored)) {
      std::string ext = entry.path().extension().string();
      std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
      if (ext == ".xm" || ext == ".mod") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
      const std::string name = "BM_RenderCorpus/" + file.filename().string();
      auto* bench = benchmark::RegisterBenchmark(name.c_str(), [file](benchmark::State& state) {
        const std::vector<uint8_t> bytes = zv::test::readFile(file.string());
        renderModule(state, bytes);
      });
      bench->Unit(benchmark::kMillisecond)->UseRealTime();
      if (file.filename() == "rafkill__song2.xm") {
        bench->Iterations(1)->Repetitions(5);
      } else {
        bench->Iterations(1);
      }
    }
  }
};
const CorpusBenchmarks corpusBenchmarks;

}  // namespace

// The benchmarks' entry point. Weak, so that a bench file with its own main
// takes its place; the executable links either way.
__attribute__((weak)) int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
