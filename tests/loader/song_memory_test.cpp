// Song release, loop clamping and the guard frames behind every sample.
#include <gtest/gtest.h>

#include <cstring>

#include "loader/module_loader.h"
#include "loader/song_memory.h"
#include "replayer/channel.h"
#include "replayer/pitch.h"
#include "support/module_writer.h"
#include "support/test_engine.h"

namespace zv::test {
namespace {

// ------------------------------------------------------------------ freeSong

XmModulePlan richSong() {
  XmModulePlan plan;
  plan.name = "rich";
  plan.songLength = 2;
  plan.restartPosition = 1;
  plan.speed = 3;
  plan.tempo = 150;
  plan.flags = 0;
  plan.orderList[0] = 1;
  plan.orderList[1] = 0;
  plan.cell(0, 0, 0) = {1, 1, 0, 0, 0};
  plan.cell(1, 0, 0) = {2, 1, 0, 0, 0};
  plan.patterns[1].rows = 16;
  plan.instruments.push_back(instrumentWith(squareSample(100)));
  return plan;
}

// The fields freeSong restores, and the ones it must leave alone.
struct Snapshot {
  char name[21];
  uint8_t channelCount, orderList[256], songLoaded, linearFrequencies, paused;
  uint16_t songLength, restartPosition, instrumentCount, formatVersion, tempo, speed, globalVolume, tickCounter;
  int16_t songPosition, patternNumber, row, patternLength;
  const uint16_t* periodTable;
  bool anyInstrument, anyPattern;
  uint16_t patternRows[256];
  Channel channels[kMaxChannels];

  static Snapshot take() {
    Snapshot s;
    std::memset(static_cast<void*>(&s), 0, sizeof s);  // padding too: compared with memcmp
    std::memcpy(s.name, song.name, sizeof s.name);
    s.channelCount = song.channelCount;
    std::memcpy(s.orderList, song.orderList, 256);
    s.songLoaded = song.songLoaded;
    s.linearFrequencies = song.linearFrequencies;
    s.paused = song.paused;
    s.songLength = song.songLength;
    s.restartPosition = song.restartPosition;
    s.instrumentCount = song.instrumentCount;
    s.formatVersion = song.formatVersion;
    s.tempo = song.tempo;
    s.speed = song.speed;
    s.globalVolume = song.globalVolume;
    s.tickCounter = song.tickCounter;
    s.songPosition = song.songPosition;
    s.patternNumber = song.patternNumber;
    s.row = song.row;
    s.patternLength = song.patternLength;
    s.periodTable = song.periodTable;
    s.anyInstrument = false;
    for (const Instrument* i : song.instruments) s.anyInstrument |= i != nullptr;
    s.anyPattern = false;
    for (const NoteCell* p : song.patterns) s.anyPattern |= p != nullptr;
    std::memcpy(s.patternRows, song.patternRows, sizeof s.patternRows);
    std::memcpy(static_cast<void*>(s.channels), test::channels, sizeof s.channels);
    return s;
  }
};

TEST(FreeSong, RestoresTheDefaultsAndKeepsTheModuleFields) {
  ASSERT_TRUE(loadBytes(engine, writeXm(richSong())));
  song.globalVolume = 10;
  song.row = 5;
  freeSong(engine);
  Snapshot s = Snapshot::take();
  EXPECT_FALSE(s.anyInstrument);
  EXPECT_FALSE(s.anyPattern);
  for (uint16_t rows : s.patternRows) EXPECT_EQ(rows, 64);
  EXPECT_EQ(s.globalVolume, 64);
  EXPECT_EQ(s.tempo, 125);
  EXPECT_EQ(s.speed, 6);
  EXPECT_EQ(s.linearFrequencies, 1);
  EXPECT_EQ(s.periodTable, linearPeriodTable);
  EXPECT_EQ(s.paused, 0);
  EXPECT_EQ(s.tickCounter, 1);
  EXPECT_EQ(s.songPosition, 0);
  EXPECT_EQ(s.row, 0);
  EXPECT_EQ(s.patternNumber, 1);  // orderList[0]
  EXPECT_EQ(s.patternLength, 64);
  for (const Channel& ch : channels) EXPECT_EQ(ch.instrument, nullptr);
  // Untouched: the next load overwrites what it needs.
  EXPECT_STREQ(s.name, "rich");
  EXPECT_EQ(s.songLength, 2);
  EXPECT_EQ(s.restartPosition, 1);
  EXPECT_EQ(s.instrumentCount, 1);
  EXPECT_EQ(s.formatVersion, 0x0104);
  EXPECT_EQ(s.channelCount, 4);
  EXPECT_EQ(s.songLoaded, 1);
  EXPECT_EQ(s.orderList[0], 1);
}

TEST(FreeSong, TwiceLeavesTheSameStateAsOnce) {
  freeSong(engine);
  freeSong(engine);  // also fine with nothing loaded
  ASSERT_TRUE(loadBytes(engine, writeXm(richSong())));
  freeSong(engine);
  Snapshot once = Snapshot::take();
  freeSong(engine);
  Snapshot twice = Snapshot::take();
  EXPECT_EQ(0, std::memcmp(&once, &twice, sizeof once));
}

TEST(FreeSong, ALoadedSongPointsEveryChannelAtTheEmptyInstrument) {
  ASSERT_TRUE(loadBytes(engine, writeXm(richSong())));
  ASSERT_NE(song.instruments[0], nullptr);
  for (const Channel& ch : channels) EXPECT_EQ(ch.instrument, song.instruments[0]);
  EXPECT_EQ(song.instruments[0]->samples[0].volume, 0);
  EXPECT_EQ(song.instruments[0]->samples[0].data, nullptr);
  freeSong(engine);
}

// ------------------------------------------------------------------ blocks

TEST(SongMemory, NewInstrumentsAndSampleBlocksStartClean) {
  Instrument* ins = newInstrument();
  ASSERT_NE(ins, nullptr);
  for (const Sample& s : ins->samples) {
    EXPECT_EQ(s.volume, 64);
    EXPECT_EQ(s.panning, 128);
    EXPECT_EQ(s.data, nullptr);
    EXPECT_EQ(s.length, 0);
  }
  for (uint8_t m : ins->sampleMap) EXPECT_EQ(m, 0);
  EXPECT_EQ(ins->volumeEnvelopeFlags, 0);
  EXPECT_EQ(ins->fadeout, 0);
  std::free(ins);

  for (int32_t length : {0, 1, 7, 1000}) {
    int8_t* data = allocateSampleData(length);
    ASSERT_NE(data, nullptr);
    // The whole block, zero tail included, is readable and zero.
    for (int32_t i = 0; i < length + kSampleGuardBytes + kSampleZeroTailBytes; ++i) EXPECT_EQ(data[i], 0);
    std::free(data);
  }
  EXPECT_EQ(allocateSampleData(-1), nullptr);
}

// ------------------------------------------------------------------ loops

Sample sampleWith(int32_t length, int32_t loopStart, int32_t loopLength, uint8_t type = kLoopForward) {
  Sample s{};
  s.length = length;
  s.loopStart = loopStart;
  s.loopLength = loopLength;
  s.type = type;
  return s;
}

TEST(ClampSampleLoop, LoopsAreMadeToFitTheLength) {
  struct Case {
    int32_t length, loopStart, loopLength, wantStart, wantLength;
  };
  const Case cases[] = {
      {40, -5, 50, 0, 40},   {40, 60, 10, 40, 0},  {40, 10, 20, 10, 20}, {40, 10, 30, 10, 30},
      {40, 10, 31, 10, 30},  {40, 5, -3, 5, 0},    {40, 40, 0, 40, 0},
      {100, INT32_MAX, INT32_MAX, 100, 0}, {100, 50, INT32_MAX, 50, 50}, {0, INT32_MIN, INT32_MIN, 0, 0},
  };
  for (const Case& c : cases) {
    Sample s = sampleWith(c.length, c.loopStart, c.loopLength);
    clampSampleLoop(s);
    EXPECT_EQ(s.loopStart, c.wantStart) << c.length << " " << c.loopStart << " " << c.loopLength;
    EXPECT_EQ(s.loopLength, c.wantLength) << c.length << " " << c.loopStart << " " << c.loopLength;
    EXPECT_EQ(s.type, kLoopForward);  // clamping alone keeps the loop kind
  }
}

// ------------------------------------------------------------------ guards

// Puts `samples` into instrument 1 with data bytes 1, 2, 3, ... and runs prepareSamples.
class Guards : public testing::Test {
 protected:
  void SetUp() override { freeSong(engine); }
  void TearDown() override { freeSong(engine); }

  Sample& add(int32_t length, int32_t loopStart, int32_t loopLength, uint8_t type) {
    if (song.instruments[1] == nullptr) song.instruments[1] = newInstrument();
    Sample& s = song.instruments[1]->samples[used++];
    s = sampleWith(length, loopStart, loopLength, type);
    s.data = allocateSampleData(length);
    for (int32_t i = 0; i < length + kSampleGuardBytes; ++i) s.data[i] = static_cast<int8_t>(i + 1);
    return s;
  }
  static int16_t word(const Sample& s, int32_t index) {
    int16_t w;
    std::memcpy(&w, s.data + 2 * index, 2);
    return w;
  }
  int used = 0;
};

TEST_F(Guards, EightBitGuardFollowsTheLoopKind) {
  Sample& none = add(100, 0, 0, 0);
  Sample& forward = add(40, 10, 20, kLoopForward);
  Sample& pingPong = add(40, 10, 20, kLoopPingPong);
  Sample& both = add(40, 10, 20, kLoopForward | kLoopPingPong);
  Sample& toTheEnd = add(40, 10, 30, kLoopForward);
  prepareSamples(engine);
  EXPECT_EQ(none.data[100], 0);
  EXPECT_EQ(none.data[99], 100);
  EXPECT_EQ(forward.data[30], forward.data[10]);
  EXPECT_EQ(forward.data[31], 32);  // only the guard element changes
  EXPECT_EQ(pingPong.data[30], pingPong.data[29]);
  EXPECT_EQ(both.data[30], both.data[10]);  // kind 3 counts as forward
  EXPECT_EQ(both.type, kLoopForward | kLoopPingPong);
  EXPECT_EQ(toTheEnd.data[40], toTheEnd.data[10]);
}

TEST_F(Guards, SixteenBitGuardFollowsTheLoopKind) {
  uint8_t wide = kSample16Bit;
  Sample& none = add(100, 0, 0, wide);
  Sample& forward = add(100, 20, 40, wide | kLoopForward);
  Sample& pingPong = add(100, 20, 40, wide | kLoopPingPong);
  Sample& both = add(100, 20, 40, wide | kLoopForward | kLoopPingPong);
  // Odd byte values: the byte positions are added, then halved, so the guard
  // is word (21 + 41) / 2 = 31, one behind the frame 30 the voice plays to.
  Sample& odd = add(101, 21, 41, wide | kLoopForward);
  Sample& oddPingPong = add(101, 21, 41, wide | kLoopPingPong);
  Sample& oddEnd = add(7, 0, 0, wide);
  prepareSamples(engine);
  EXPECT_EQ(word(none, 50), 0);
  EXPECT_NE(word(none, 49), 0);
  EXPECT_EQ(word(forward, 30), word(forward, 10));
  EXPECT_EQ(word(pingPong, 30), word(pingPong, 29));
  EXPECT_EQ(word(both, 30), word(both, 10));
  EXPECT_EQ(word(odd, 31), word(odd, 10));
  EXPECT_EQ(word(oddPingPong, 31), word(oddPingPong, 30));
  EXPECT_EQ(word(odd, 30), 0x3E3D);  // bytes 60 and 61 untouched
  EXPECT_EQ(word(oddEnd, 3), 0);
}

TEST_F(Guards, SamplesWithoutFramesGetNoGuard) {
  Sample& oneByteWide = add(1, 0, 0, kSample16Bit);
  prepareSamples(engine);
  EXPECT_EQ(oneByteWide.data[0], 1);
  EXPECT_EQ(oneByteWide.data[1], 2);
}

TEST_F(Guards, SamplesWithoutDataLoseTheirLengths) {
  add(10, 0, 0, 0);
  Sample& last = song.instruments[1]->samples[15];  // every sample, not only the used ones
  last = sampleWith(500, 100, 200, kLoopPingPong);
  prepareSamples(engine);
  EXPECT_EQ(last.length, 0);
  EXPECT_EQ(last.loopStart, 0);
  EXPECT_EQ(last.loopLength, 0);
  EXPECT_EQ(last.type & kLoopKindMask, 0);
}

// A loop without a whole frame could not wrap and would take its ping-pong
// guard from before the data: it plays unlooped instead.
TEST_F(Guards, LoopsWithoutAFramePlayUnlooped) {
  Sample& pingPongAtZero = add(20, 0, 0, kLoopPingPong);
  Sample& forwardEmpty = add(20, 5, 0, kLoopForward);
  Sample& clampedAway = add(20, 30, 10, kLoopPingPong);       // starts past the end
  Sample& wideOneByte = add(20, 0, 1, kSample16Bit | kLoopPingPong);  // half a frame
  Sample& wideOneFrame = add(20, 0, 2, kSample16Bit | kLoopPingPong);
  Sample& narrowOneFrame = add(20, 0, 1, kLoopPingPong);
  prepareSamples(engine);
  EXPECT_EQ(pingPongAtZero.type, 0);
  EXPECT_EQ(pingPongAtZero.data[20], 0);
  EXPECT_EQ(forwardEmpty.type, 0);
  EXPECT_EQ(forwardEmpty.data[20], 0);
  EXPECT_EQ(clampedAway.type, 0);
  EXPECT_EQ(clampedAway.loopStart, 20);
  EXPECT_EQ(clampedAway.loopLength, 0);
  EXPECT_EQ(wideOneByte.type, kSample16Bit);
  EXPECT_EQ(word(wideOneByte, 10), 0);
  EXPECT_EQ(wideOneFrame.type, kSample16Bit | kLoopPingPong);
  EXPECT_EQ(word(wideOneFrame, 1), word(wideOneFrame, 0));
  EXPECT_EQ(narrowOneFrame.type, kLoopPingPong);
  EXPECT_EQ(narrowOneFrame.data[1], narrowOneFrame.data[0]);
}

TEST(GuardsAfterLoading, EveryLoopKindAndWidthThroughTheReader) {
  XmModulePlan plan;
  XmInstrumentPlan ins;
  for (bool sixteenBit : {false, true}) {
    for (uint8_t kind : {0, 1, 2, 3}) {
      XmSamplePlan s = squareSample(64, 8, 1000);
      s.sixteenBit = sixteenBit;
      if (!sixteenBit) s = squareSample(64, 8, 100);
      s.loopKind = kind;
      s.loopStart = 8;
      s.loopLength = kind ? 20 : 0;
      ins.samples.push_back(s);
    }
  }
  plan.instruments.push_back(ins);
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  for (int i = 0; i < 8; ++i) {
    const Sample& s = song.instruments[1]->samples[i];
    bool wide = i >= 4;
    int kind = i % 4;
    auto element = [&](int32_t frame) -> int32_t {
      if (!wide) return s.data[frame];
      int16_t w;
      std::memcpy(&w, s.data + 2 * frame, 2);
      return w;
    };
    SCOPED_TRACE(testing::Message() << (wide ? "16-bit" : "8-bit") << " kind " << kind);
    if (kind == 0) {
      EXPECT_EQ(element(64), 0);
    } else if (kind & 1) {
      EXPECT_EQ(element(28), element(8));
    } else {
      EXPECT_EQ(element(28), element(27));
    }
  }
}

}  // namespace
}  // namespace zv::test
