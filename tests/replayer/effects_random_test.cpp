// Songs of random commands on every channel, and the corpus modules, played
// through the tick, the voice updates and a little mixing: under the
// sanitizer build nothing may read or write outside its buffers, and every
// channel's state stays in range.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "audio/player.h"
#include "loader/module_loader.h"
#include "loader/song_memory.h"
#include "mixer/voices.h"
#include "replayer/channel.h"
#include "support/module_writer.h"
#include "support/test_engine.h"

namespace zv::test {
namespace {

class Random {
 public:
  explicit Random(uint32_t seed) : engine_(seed) {}
  int between(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(engine_); }
  uint8_t byte() { return static_cast<uint8_t>(between(0, 255)); }
  bool chance(int percent) { return between(0, 99) < percent; }

 private:
  std::mt19937 engine_;
};

// Point values above 64 are kept to the panning envelope: a volume envelope
// that reaches such a point is not limited on that tick, so finalVolume
// would leave 0..256 for reasons outside these commands.
XmEnvelopePlan randomEnvelope(Random& r, bool anyValues) {
  XmEnvelopePlan e;
  const int points = r.between(0, 12);
  int tick = 0;
  for (int i = 0; i < points; i++) {
    // Mostly rising ticks; sometimes anything, including ticks read as negative.
    tick = r.chance(80) ? tick + r.between(0, 40) : r.between(0, 65535);
    const int value = anyValues && r.chance(10) ? r.between(0, 65535) : r.between(0, 64);
    e.points.push_back({static_cast<uint16_t>(tick), static_cast<uint16_t>(value)});
  }
  e.sustainPoint = r.chance(80) ? static_cast<uint8_t>(r.between(0, 12)) : r.byte();
  e.loopStartPoint = r.chance(80) ? static_cast<uint8_t>(r.between(0, 12)) : r.byte();
  e.loopEndPoint = r.chance(80) ? static_cast<uint8_t>(r.between(0, 12)) : r.byte();
  e.flags = static_cast<uint8_t>(r.between(0, 7));
  if (r.chance(15)) e.pointCountOverride = r.byte();
  return e;
}

XmSamplePlan randomSample(Random& r) {
  XmSamplePlan s;
  const int frames = r.between(0, 300);
  s.sixteenBit = r.chance(30);
  for (int i = 0; i < frames; i++) {
    s.pcm.push_back(static_cast<int16_t>(s.sixteenBit ? r.between(-32768, 32767) : r.between(-128, 127)));
  }
  s.loopKind = static_cast<uint8_t>(r.between(0, 3));
  s.loopStart = frames > 0 ? r.between(0, frames - 1) : 0;
  s.loopLength = frames > 0 ? r.between(0, frames - s.loopStart) : 0;
  s.volume = r.chance(90) ? static_cast<uint8_t>(r.between(0, 64)) : r.byte();
  s.finetune = static_cast<int8_t>(r.byte());
  s.panning = r.byte();
  s.relativeNote = static_cast<int8_t>(r.chance(80) ? r.between(-12, 12) : r.between(-128, 127));
  return s;
}

XmInstrumentPlan randomInstrument(Random& r) {
  XmInstrumentPlan ins;
  const int samples = r.between(1, 3);
  for (int i = 0; i < samples; i++) ins.samples.push_back(randomSample(r));
  for (uint8_t& s : ins.sampleMap) s = static_cast<uint8_t>(r.chance(90) ? r.between(0, samples - 1) : r.byte());
  ins.volumeEnvelope = randomEnvelope(r, false);
  ins.panningEnvelope = randomEnvelope(r, true);
  ins.vibratoType = static_cast<uint8_t>(r.between(0, 4));
  ins.vibratoSweep = r.byte();
  ins.vibratoDepth = static_cast<uint8_t>(r.chance(70) ? r.between(0, 15) : r.byte());
  ins.vibratoRate = r.byte();
  ins.fadeout = static_cast<uint16_t>(r.chance(80) ? r.between(0, 4095) : r.between(0, 65535));
  ins.muteByte = r.chance(5) ? 1 : 0;
  return ins;
}

NoteCell randomCell(Random& r) {
  NoteCell c{};
  const int kind = r.between(0, 99);
  c.note = kind < 45 ? 0 : kind < 50 ? kKeyOffNote : static_cast<uint8_t>(r.between(1, 96));
  c.instrument = r.chance(50) ? 0 : r.chance(95) ? static_cast<uint8_t>(r.between(1, 5)) : r.byte();
  c.volumeColumn = r.chance(40) ? 0 : r.byte();
  c.effect = r.chance(97) ? static_cast<uint8_t>(r.between(0, 35)) : r.byte();
  c.effectParam = r.byte();
  // Speeds are kept from 0 most of the time so that songs move on.
  if (c.effect == 15 && c.effectParam == 0 && r.chance(90)) c.effectParam = 3;
  return c;
}

XmModulePlan randomSong(Random& r) {
  XmModulePlan s;
  s.channelCount = static_cast<uint16_t>(2 * r.between(1, 16));
  s.flags = static_cast<uint16_t>(r.between(0, 1));
  s.speed = static_cast<uint16_t>(r.chance(90) ? r.between(1, 12) : r.between(1, 40));
  s.tempo = static_cast<uint16_t>(r.between(32, 255));
  for (int p = 0; p < 3; p++) {
    XmPatternPlan pattern;
    pattern.rows = static_cast<uint16_t>(r.between(1, 64));
    for (int i = 0; i < pattern.rows * s.channelCount; i++) pattern.cells.push_back(randomCell(r));
    s.patterns.push_back(pattern);
  }
  s.songLength = static_cast<uint16_t>(r.between(1, 6));
  for (int i = 0; i < s.songLength; i++) s.orderList[i] = static_cast<uint8_t>(r.between(0, 3));
  s.restartPosition = static_cast<uint16_t>(r.between(0, s.songLength - 1));
  for (int i = 0; i < 3; i++) s.instruments.push_back(randomInstrument(r));
  return s;
}

// The first channel state out of range, or "".
std::string channelViolation() {
  if (song.globalVolume > 64) return "global volume " + std::to_string(song.globalVolume);
  for (int i = 0; i < song.channelCount; i++) {
    const Channel& c = channels[i];
    const std::string at = " on channel " + std::to_string(i);
    if (c.finalVolume > 256) {
      return "final volume " + std::to_string(c.finalVolume) + at + " (volume " +
             std::to_string(c.outputVolume) + ", envelope value " +
             std::to_string(c.volumeEnvelopeValue) + ", fade-out " + std::to_string(c.fadeoutVolume) + ")";
    }
    if (c.volume > 64) return "volume " + std::to_string(c.volume) + at;
    if (c.outputVolume > 64) return "output volume " + std::to_string(c.outputVolume) + at;
    if (c.realPeriod > 31999) return "period " + std::to_string(c.realPeriod) + at;
    if (c.volumeEnvelopePoint >= kEnvelopePoints) return "volume envelope point" + at;
    if (c.panningEnvelopePoint >= kEnvelopePoints) return "panning envelope point" + at;
  }
  return "";
}

class Playing : public ::testing::Test {
 protected:
  static constexpr int32_t kFrequency = 8000;
  static constexpr int32_t kMixedFrames = 32;  // per tick: the voices are exercised, cheaply

  void SetUp() override { setupReplayer(engine, kFrequency, 1024, true, true); }
  void TearDown() override {
    freeMixBuffer(engine);
    freeSong(engine);
  }

  // Sets up as a playback start does, then plays `count` ticks, checking the
  // channels after each. Returns the first violation, or "".
  std::string play(int count) {
    resetVoices(engine.mixer, engine.audioLock);  // no voice may still point into an earlier song
    song.globalVolume = 64;
    song.patternDelay = 0;
    song.patternDelayCounter = 0;
    if (!allocateMixBuffer(engine, kMixedFrames)) return "no mix buffer";
    for (int t = 0; t < count; t++) {
      const int32_t frames = std::min(runTick(engine), kMixedFrames);
      std::memset(player.mixBuffer, 0, sizeof(int32_t) * 2 * kMixedFrames);
      mixAllVoices(engine, frames, 0);
      const std::string v = channelViolation();
      if (!v.empty()) return v + " after tick " + std::to_string(t);
    }
    return "";
  }
};

TEST_F(Playing, RandomCommandsOnEveryChannelStayInRange) {
  for (uint32_t seed = 1; seed <= 24; seed++) {
    Random r(seed);
    const XmModulePlan plan = randomSong(r);
    setupReplayer(engine, kFrequency, 1024, true, true);
    ASSERT_TRUE(loadBytes(engine, writeXm(plan))) << "seed " << seed;
    ASSERT_EQ(play(4000), "") << "seed " << seed;
  }
}

std::vector<std::string> corpusModules() {
  std::vector<std::string> files;
  DIR* dir = opendir(ZELVIX_CORPUS_DIR);
  if (dir == nullptr) return files;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    const bool xm = name.size() > 3 && name.compare(name.size() - 3, 3, ".xm") == 0;
    const bool mod = name.size() > 4 && name.compare(name.size() - 4, 4, ".mod") == 0;
    if (xm || mod) files.push_back(std::string(ZELVIX_CORPUS_DIR) + "/" + name);
  }
  closedir(dir);
  std::sort(files.begin(), files.end());
  return files;
}

TEST_F(Playing, CorpusModulesStayInRange) {
  const std::vector<std::string> files = corpusModules();
  if (files.empty()) GTEST_SKIP() << "no corpus at " << ZELVIX_CORPUS_DIR;
  for (const std::string& file : files) {
    setupReplayer(engine, kFrequency, 1024, true, true);
    ASSERT_TRUE(loadModuleFile(engine, file.c_str())) << file;
    ASSERT_EQ(play(5000), "") << file;
  }
}

}  // namespace
}  // namespace zv::test
