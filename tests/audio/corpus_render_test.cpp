// Every module of the corpus renders to a valid WAV file whose data are
// exactly its ticks, the same bytes on every render. The sanitizer build
// renders the first seconds of each, the release build whole songs: every
// one ends by itself (the longest after under four minutes), well before the
// ten-minute bound that would stop one that did not.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <atomic>
#include <memory>
#include <numeric>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_support.h"
#include "audio/player.h"
#include "audio/wav_render.h"
#include "loader/module_loader.h"
#include "loader/song_memory.h"
#include "mixer/mix_routines.h"
#include "support/test_engine.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZELVIX_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZELVIX_SANITIZED 1
#endif
#endif

namespace zv {
namespace {

using test::engine;
using test::song;
using test::player;
using test::voices;
using test::renderActive;
#ifdef ZELVIX_SANITIZED
constexpr uint32_t kRenderSeconds = 10;
#else
constexpr uint32_t kRenderSeconds = 600;
#endif
constexpr uint32_t kRenderBytes = kRenderSeconds * 44100 * 4;
// The comparison of the instruction sets renders each module four times with
// each: a shorter stretch of every song.
#ifdef ZELVIX_SANITIZED
constexpr uint32_t kCompareSeconds = 2;
#else
constexpr uint32_t kCompareSeconds = 20;
#endif

std::vector<std::string> corpusModules() {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(ZELVIX_CORPUS_DIR, ignored)) {
    std::string ext = entry.path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    if (entry.is_regular_file(ignored) && (ext == ".xm" || ext == ".mod")) {
      names.push_back(entry.path().filename().string());
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The header fields and a checksum of the data, read in pieces.
struct StreamedWav {
  test::WavInfo header;
  uint64_t checksum = test::checksumOf(nullptr, 0);
};

StreamedWav readWav(const std::string& path) {
  StreamedWav wav;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return wav;
  uint8_t head[44];
  const bool headRead = std::fread(head, 1, sizeof head, file) == sizeof head;
  std::vector<uint8_t> piece(1 << 20);
  uint64_t dataBytes = 0;
  for (size_t n; (n = std::fread(piece.data(), 1, piece.size(), file)) > 0;) {
    wav.checksum = test::checksumOf(piece.data(), n, wav.checksum);
    dataBytes += n;
  }
  std::fclose(file);
  if (headRead) wav.header = test::parseWavHeader(head, dataBytes);
  return wav;
}

class CorpusRenderTest : public ::testing::TestWithParam<std::string> {
 protected:
  void TearDown() override { test::resetPlayer(); }
};

TEST_P(CorpusRenderTest, RendersToAValidWavOfItsTicks) {
  const std::string module = std::string(ZELVIX_CORPUS_DIR) + "/" + GetParam();
  test::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string out = dir.file(GetParam() + ".wav");

  test::resetPlayer();
  setAmp(engine, 10);
  ASSERT_TRUE(loadModuleFile(engine, module.c_str()));
  renderActive = true;
  ASSERT_EQ(renderSongToWav(engine, out.c_str(), kRenderBytes), RenderResult::ok);
  const StreamedWav wav = readWav(out);
  EXPECT_TRUE(wav.header.wellFormed);
  EXPECT_EQ(wav.header.sampleRate, 44100u);
  EXPECT_GT(wav.header.dataSize, 0u);

  // The same song again from a fresh set-up (as a new run of the program
  // makes it), tick by tick: the file holds exactly these ticks.
  test::resetPlayer();
  setAmp(engine, 10);
  ASSERT_TRUE(loadModuleFile(engine, module.c_str()));
  const test::ManualRender ticks = test::renderByTicks(kRenderBytes, false);
  const uint64_t sum = std::accumulate(ticks.tickBytes.begin(), ticks.tickBytes.end(), uint64_t{0});
  EXPECT_EQ(sum, wav.header.dataSize);
  EXPECT_EQ(ticks.checksum, wav.checksum);
  for (int32_t bytes : ticks.tickBytes) ASSERT_TRUE(bytes > 0 && bytes % 4 == 0) << bytes;
#ifndef ZELVIX_SANITIZED
  EXPECT_TRUE(ticks.songEnded) << "still playing after " << kRenderSeconds << " s";
#endif
  freeSong(engine);
}

// The instruction sets change nothing: with every combination of
// interpolation and ramping (all 16 routines, as the songs' samples are 8-
// and 16-bit and their voices centred or not) the first seconds of each song
// are the same bytes with every set the processor runs as with the plain loop.
TEST_P(CorpusRenderTest, EveryInstructionSetRendersTheSameBytes) {
  const std::string module = std::string(ZELVIX_CORPUS_DIR) + "/" + GetParam();
  const MixTarget& saved = mixTargetInUse();
  const std::span<const MixTarget> targets = mixTargets();
  for (int settings = 0; settings < 4; ++settings) {
    const bool interpolation = settings & 1;
    const bool ramping = settings & 2;
    std::vector<uint64_t> checksums;
    for (const MixTarget& target : targets) {
      useMixTarget(target);
      test::resetPlayer(44100, interpolation, ramping);
      setAmp(engine, 10);
      ASSERT_TRUE(loadModuleFile(engine, module.c_str()));
      checksums.push_back(test::renderByTicks(kCompareSeconds * 44100 * 4, false).checksum);
    }
    useMixTarget(saved);
    for (size_t i = 0; i + 1 < targets.size(); ++i) {
      EXPECT_EQ(checksums[i], checksums.back())
          << targets[i].name << ", interpolation " << interpolation << " ramping " << ramping;
    }
  }
  freeSong(engine);
}

std::string testName(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = info.param;
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusRenderTest, ::testing::ValuesIn(corpusModules()), testName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CorpusRenderTest);

// One XM and one MOD: load, ten seconds of render, release. Run under
// valgrind's memcheck by scripts/valgrind_check.sh, which then reports any
// leak or invalid access of the whole path.
TEST(CorpusRender, TenSecondsOfAnXmAndAMod) {
  std::vector<std::string> chosen;
  for (const char* ext : {".xm", ".mod"}) {
    for (const std::string& name : corpusModules()) {
      if (name.size() > std::strlen(ext) && name.compare(name.size() - std::strlen(ext), std::string::npos, ext) == 0) {
        chosen.push_back(name);
        break;
      }
    }
  }
  if (chosen.size() < 2) GTEST_SKIP() << "no XM and MOD in " << ZELVIX_CORPUS_DIR;
  test::TempDir dir;
  for (const std::string& name : chosen) {
    test::resetPlayer();
    ASSERT_TRUE(loadModuleFile(engine, (std::string(ZELVIX_CORPUS_DIR) + "/" + name).c_str())) << name;
    renderActive = true;
    ASSERT_EQ(renderSongToWav(engine, dir.file(name + ".wav").c_str(), 10 * 44100 * 4), RenderResult::ok) << name;
    freeSong(engine);
    const StreamedWav wav = readWav(dir.file(name + ".wav"));
    EXPECT_TRUE(wav.header.wellFormed) << name;
    // Whole ticks up to the limit: the last tick that would pass it is not made.
    EXPECT_GT(wav.header.dataSize, 9u * 44100 * 4) << name;
  }
}

// Where songs end, in frames at the default options: a loop back to row 0
// of the last pattern plays on (corpses), a plain song ends at its wrap.
TEST(CorpusRender, SongsEndWhereTheyStartOver) {
  const struct {
    const char* name;
    uint32_t frames;
  } songs[] = {{"bugsquish__corpses.mod", 2429028}, {"rafkill__song2.xm", 12012768}};
  test::TempDir dir;
  for (const auto& song : songs) {
    const std::string module = std::string(ZELVIX_CORPUS_DIR) + "/" + song.name;
    if (!std::filesystem::exists(module)) continue;
    test::resetPlayer();
    ASSERT_TRUE(loadModuleFile(engine, module.c_str())) << song.name;
    renderActive = true;
    ASSERT_EQ(renderSongToWav(engine, dir.file("song.wav").c_str()), RenderResult::ok) << song.name;
    freeSong(engine);
    EXPECT_EQ(readWav(dir.file("song.wav")).header.dataSize, song.frames * 4) << song.name;
  }
}

// ---------------------------------------------------------------- engines together

// Engines share nothing: songs rendered on engines of their own, at the same
// time on several threads or one after another, give each song's bytes.

struct Module {
  std::string name;
  std::vector<uint8_t> bytes;
};

// The corpus's modules (`limit` at most), or eight songs made here when it is absent.
std::vector<Module> modulesForEngines(size_t limit) {
  std::vector<Module> modules;
  for (const std::string& name : corpusModules()) {
    if (modules.size() == limit) break;
    modules.push_back({name, test::readFile(std::string(ZELVIX_CORPUS_DIR) + "/" + name)});
  }
  const bool generate = modules.empty();
  for (size_t i = 0; generate && i < 8 && i < limit; ++i) {
    // Each differs in length, channels and note, so a mixed-up render shows.
    const int k = static_cast<int>(i);
    test::XmModulePlan plan = test::toneSong(8 + 4 * k, 2 + 2 * (k % 4), 1 + k % 3);
    plan.cell(0, 0, 0).note = static_cast<uint8_t>(37 + 3 * k);
    plan.cell(0, 2 + k, 1) = NoteCell{static_cast<uint8_t>(61 - k), 1, 0, 0, 0};
    modules.push_back({"generated " + std::to_string(i), test::writeXm(plan)});
  }
  return modules;
}

// Whole songs up to ten minutes; the sanitizer builds render the first 20 seconds.
constexpr uint32_t kEngineRenderBytes = (kRenderSeconds < 20 ? 20 : kRenderSeconds) * 44100 * 4;

// What a render left in its file: the header's data size and the data's checksum.
struct Rendered {
  uint32_t dataSize = 0;
  uint64_t checksum = 0;
  bool operator==(const Rendered&) const = default;
};

// `module` loaded into `e` (set up afresh, amp 10, as the program does).
bool loadInto(Engine& e, const Module& module) {
  setupReplayer(e, 44100, 1024, true, true);
  setAmp(e, 10);
  return loadModuleFromMemory(e, module.bytes.data(), static_cast<uint32_t>(module.bytes.size()));
}

// The loaded song of `e` rendered into `path`.
Rendered renderLoaded(Engine& e, const std::string& path) {
  e.renderActive = true;
  if (renderSongToWav(e, path.c_str(), kEngineRenderBytes) != RenderResult::ok) return {};
  const StreamedWav wav = readWav(path);
  std::remove(path.c_str());
  return {wav.header.dataSize, wav.checksum};
}

Rendered renderOn(Engine& e, const Module& module, const std::string& path) {
  if (!loadInto(e, module)) return {};
  const Rendered rendered = renderLoaded(e, path);
  freeSong(e);
  return rendered;
}

// Each module rendered alone, one after another, on a fresh engine.
std::vector<Rendered> renderedAlone(const std::vector<Module>& modules, const test::TempDir& dir) {
  std::vector<Rendered> alone;
  for (const Module& module : modules) {
    const std::unique_ptr<Engine> e(new Engine());
    alone.push_back(renderOn(*e, module, dir.file("alone.wav")));
    EXPECT_GT(alone.back().dataSize, 0u) << module.name;
  }
  return alone;
}

TEST(EnginesTogether, TwoSongsOnTwoThreadsEachAsAlone) {
  const std::vector<Module> modules = modulesForEngines(2);
  ASSERT_EQ(modules.size(), 2u);
  test::TempDir dir;
  const std::vector<Rendered> alone = renderedAlone(modules, dir);
  Rendered together[2];
  std::thread threads[2];
  for (int i = 0; i < 2; ++i) {
    threads[i] = std::thread([&, i] {
      const std::unique_ptr<Engine> e(new Engine());
      together[i] = renderOn(*e, modules[i], dir.file("together" + std::to_string(i) + ".wav"));
    });
  }
  for (std::thread& t : threads) t.join();
  for (int i = 0; i < 2; ++i) EXPECT_EQ(together[i], alone[i]) << modules[i].name;
}

// Eight threads, each with one engine, take the modules in turn.
TEST(EnginesTogether, EightEnginesOverEightThreads) {
  const std::vector<Module> modules = modulesForEngines(SIZE_MAX);
  test::TempDir dir;
  const std::vector<Rendered> alone = renderedAlone(modules, dir);
  std::vector<Rendered> together(modules.size());
  std::atomic<size_t> next{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      const std::unique_ptr<Engine> e(new Engine());
      for (size_t i; (i = next++) < modules.size();) {
        together[i] = renderOn(*e, modules[i], dir.file("thread" + std::to_string(t) + ".wav"));
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (size_t i = 0; i < modules.size(); ++i) EXPECT_EQ(together[i], alone[i]) << modules[i].name;
}

// A song loaded and rendered on a second engine leaves the first one's
// loaded song as it was.
TEST(EnginesTogether, ASecondEngineLeavesTheFirstAlone) {
  const std::vector<Module> modules = modulesForEngines(2);
  ASSERT_EQ(modules.size(), 2u);
  test::TempDir dir;
  const std::vector<Rendered> alone = renderedAlone(modules, dir);
  const std::unique_ptr<Engine> first(new Engine());
  const std::unique_ptr<Engine> second(new Engine());
  ASSERT_TRUE(loadInto(*first, modules[0]));
  ASSERT_TRUE(loadInto(*second, modules[1]));
  EXPECT_EQ(renderLoaded(*second, dir.file("b.wav")), alone[1]);
  EXPECT_EQ(renderLoaded(*first, dir.file("a.wav")), alone[0]);
}

TEST(CorpusRender, CorpusPresent) {
  if (corpusModules().empty()) GTEST_SKIP() << "no corpus at " << ZELVIX_CORPUS_DIR;
  SUCCEED();
}

}  // namespace
}  // namespace zv
