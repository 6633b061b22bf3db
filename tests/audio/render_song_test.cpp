// Renders and live output of songs built in code: where a render ends, what
// its file holds, and that live buffers of any size carry the same ticks.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "audio/audio_support.h"
#include "audio/device.h"
#include "audio/player.h"
#include "audio/wav_render.h"
#include "mixer/voices.h"
#include "replayer/pitch.h"
#include "replayer/song.h"
#include "replayer/tick_engine.h"
#include "support/test_engine.h"

namespace zv {
namespace {

using test::engine;
using test::song;
using test::channels;
using test::player;
using test::voices;
using test::voiceOfChannel;
using test::renderActive;
using test::loadBytes;
using test::parseWav;
using test::readFile;
using test::resetPlayer;
using test::toneSong;
using test::writeXm;
using test::XmModulePlan;

constexpr uint8_t kEffectPositionJump = 11;  // Bxx
constexpr uint8_t kEffectPatternBreak = 13;  // Dxy
constexpr uint8_t kEffectExtended = 14;      // Exy
constexpr uint8_t kEffectSpeedTempo = 15;    // Fxx

class SongRenderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetPlayer();
    ASSERT_FALSE(dir.path().empty());
  }
  void TearDown() override { resetPlayer(); }

  void load(const XmModulePlan& plan) { ASSERT_TRUE(loadBytes(engine, writeXm(plan))); }

  // Renders the loaded song into a fresh file and returns what it holds.
  test::WavInfo render(uint32_t maxDataBytes = kMaxWavDataBytes) {
    const std::string path = dir.file("render" + std::to_string(++renders) + ".wav");
    renderActive = true;
    EXPECT_EQ(renderSongToWav(engine, path.c_str(), maxDataBytes), RenderResult::ok);
    EXPECT_FALSE(renderActive);
    test::WavInfo wav = parseWav(readFile(path));
    EXPECT_TRUE(wav.wellFormed);
    return wav;
  }

  test::TempDir dir;
  int renders = 0;
};

uint32_t ticksOf(uint32_t count, int32_t frames = 882) { return count * static_cast<uint32_t>(frames) * 4; }

bool allZero(const std::vector<uint8_t>& bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
}

// ---------------------------------------------------------------- where it ends

TEST_F(SongRenderTest, OneOrderSongRendersItsPatternOnce) {
  load(toneSong(8));
  const test::WavInfo wav = render();
  EXPECT_EQ(wav.dataSize, ticksOf(8 * 6));
  EXPECT_EQ(wav.sampleRate, 44100u);
  EXPECT_EQ(wav.byteRate, 176400u);
  EXPECT_FALSE(allZero(wav.data));
}

TEST_F(SongRenderTest, LastPatternIsRenderedWholeAndNothingAfterIt) {
  XmModulePlan plan = toneSong(8, 2, 3);
  plan.orderList[1] = 1;
  plan.orderList[2] = 0;
  plan.cell(1, 15, 1) = NoteCell{};  // pattern 1: 64 rows
  load(plan);
  EXPECT_EQ(render().dataSize, ticksOf((8 + 64 + 8) * 6));
  // An empty pattern of 16 rows, a pause as trackers save it, plays 16 rows.
  plan.patterns[1].rows = 16;
  plan.patterns[1].cells.resize(16 * 2);
  load(plan);
  EXPECT_EQ(render().dataSize, ticksOf((8 + 16 + 8) * 6));
}

TEST_F(SongRenderTest, SpeedZeroEndsAfterTheTickThatSetIt) {
  XmModulePlan plan = toneSong(8);
  NoteCell& c = plan.cell(0, 2, 1);
  c.effect = kEffectSpeedTempo;
  c.effectParam = 0;
  load(plan);
  EXPECT_EQ(render().dataSize, ticksOf(2 * 6 + 1));
}

// A loop back to row 0 of the last pattern plays its repeats and the rest
// of the pattern; the wrap to the first entry then ends the render.
TEST_F(SongRenderTest, PatternLoopInTheLastPatternPlaysItsRepeats) {
  XmModulePlan plan = toneSong(8, 2, 2);
  plan.orderList[1] = 1;
  plan.patterns.resize(2);
  plan.patterns[1].rows = 8;
  plan.cell(1, 0, 1) = NoteCell{0, 0, 0, kEffectExtended, 0x60};  // loop start
  plan.cell(1, 3, 1) = NoteCell{0, 0, 0, kEffectExtended, 0x62};  // loop twice
  load(plan);
  EXPECT_EQ(render().dataSize, ticksOf((8 + 3 * 4 + 4) * 6));
}

// Songs of one-row or three-row patterns at speed 1: a tick a row.
TEST_F(SongRenderTest, LoopsAndJumpsIntoUnplayedPositionsPlayOn) {
  // One pattern of 3 rows, E60 on row 0 and E63 on row 2: 4 passes.
  XmModulePlan loop = toneSong(3, 2, 1);
  loop.speed = 1;
  loop.cell(0, 0, 1) = NoteCell{0, 0, 0, kEffectExtended, 0x60};
  loop.cell(0, 2, 1) = NoteCell{0, 0, 0, kEffectExtended, 0x63};
  load(loop);
  EXPECT_EQ(render().dataSize, ticksOf(12));
  // Orders (0, 1, 2), B02 in pattern 0 and B01 in pattern 2: positions 0, 2
  // and 1 play, and the move back to position 2 ends it.
  XmModulePlan jump = toneSong(1, 2, 3);
  jump.speed = 1;
  jump.patterns.resize(3);
  for (int p = 0; p < 3; ++p) {
    jump.orderList[p] = static_cast<uint8_t>(p);
    jump.patterns[p].rows = 1;
    jump.cell(p, 0, 0) = NoteCell{static_cast<uint8_t>(49 + p), 1, 0, 0, 0};
  }
  jump.cell(0, 0, 1) = NoteCell{0, 0, 0, kEffectPositionJump, 2};
  jump.cell(2, 0, 1) = NoteCell{0, 0, 0, kEffectPositionJump, 1};
  load(jump);
  EXPECT_EQ(render().dataSize, ticksOf(3));
}

// Songs whose last entry is never begun at its row 0 end where they start
// over: at the first row start, reached by a move to a song position, of a
// (position, row) already played. Every entry holds an 8-row pattern of its
// own with a note on row 0; the flow commands go on channel 1.
TEST_F(SongRenderTest, SongsThatNeverBeginTheirLastEntryAtRowZeroEndWhereTheyStartOver) {
  struct Placed {
    int pattern, row;
    uint8_t effect, param;
  };
  struct Case {
    const char* what;
    int orders;
    std::vector<Placed> commands;
    uint32_t rows;  // rows rendered
    uint16_t songLength = 0xFFFF;  // 0xFFFF: as many as orders
    uint16_t restartPosition = 0;
  };
  const Case cases[] = {
      {"break into the last entry at row 1, ends at the wrap", 2, {{0, 7, kEffectPatternBreak, 0x01}}, 8 + 7},
      {"break into the last entry, wrap to the restart position", 3, {{1, 7, kEffectPatternBreak, 0x01}},
       8 + 8 + 7, 0xFFFF, 1},
      {"jump back from the second of three entries", 3, {{1, 7, kEffectPositionJump, 0}}, 8 + 8},
      {"jump back from the last of two entries (both tests at once)", 2, {{1, 7, kEffectPositionJump, 0}}, 8 + 8},
      {"jump back inside the first entry", 2, {{0, 3, kEffectPositionJump, 0}}, 4},
      {"a loop that repeats rows is not cut short", 2,
       {{0, 0, kEffectExtended, 0x60}, {0, 2, kEffectExtended, 0x62}}, 9 + 5 + 8},
      {"a loop's row left as the next start", 1, {{0, 2, kEffectExtended, 0x60}, {0, 4, kEffectExtended, 0x61}},
       5 + 3 + 3},
      {"song length 0", 1, {}, 8, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    XmModulePlan plan = toneSong(8, 2, c.orders);
    for (int p = 0; p < c.orders; ++p) {
      plan.orderList[p] = static_cast<uint8_t>(p);
      plan.patterns.resize(static_cast<size_t>(c.orders));
      plan.patterns[p].rows = 8;
      plan.cell(p, 0, 0) = NoteCell{static_cast<uint8_t>(49 + p), 1, 0, 0, 0};
    }
    for (const Placed& command : c.commands) {
      plan.cell(command.pattern, command.row, 1) = NoteCell{0, 0, 0, command.effect, command.param};
    }
    if (c.songLength != 0xFFFF) plan.songLength = c.songLength;
    plan.restartPosition = c.restartPosition;
    load(plan);
    EXPECT_EQ(render().dataSize, ticksOf(c.rows * 6));
  }
}

TEST_F(SongRenderTest, LongSongStopsAtTheDataBound) {
  load(toneSong(64, 2, 2));  // 768 ticks
  const uint32_t bound = ticksOf(500) + 100;
  EXPECT_EQ(render(bound).dataSize, ticksOf(500));
}

// Tempo changes take effect on the tick that makes them; every tick adds its
// own whole length.
TEST_F(SongRenderTest, DataIsTheSumOfTheTicksAcrossTempoChanges) {
  XmModulePlan plan = toneSong(6);
  plan.cell(0, 1, 1) = NoteCell{0, 0, 0, kEffectSpeedTempo, 100};
  plan.cell(0, 3, 1) = NoteCell{0, 0, 0, kEffectSpeedTempo, 255};
  load(plan);
  const uint32_t expected = ticksOf(6, 882) + ticksOf(12, 1102) + ticksOf(18, 432);
  const test::WavInfo wav = render();
  EXPECT_EQ(wav.dataSize, expected);
  load(plan);
  const test::ManualRender ticks = test::renderByTicks(kMaxWavDataBytes);
  ASSERT_EQ(ticks.tickBytes.size(), 36u);
  EXPECT_EQ(ticks.tickBytes[5], 882 * 4);
  EXPECT_EQ(ticks.tickBytes[6], 1102 * 4);
  EXPECT_EQ(ticks.tickBytes[18], 432 * 4);
  EXPECT_EQ(ticks.data, wav.data);
}

// A row that starts a note on each of 32 channels sends a tick more voice
// updates than the render's queue keeps in one record: the file still holds
// exactly the ticks, each tick's updates applied before it is mixed.
TEST_F(SongRenderTest, EveryChannelStartingTogetherRendersItsTicks) {
  XmModulePlan plan = toneSong(8, 32);
  for (int row = 0; row < 8; ++row) {
    for (int c = 0; c < 32; ++c) {
      plan.cell(0, row, c) = NoteCell{static_cast<uint8_t>(30 + (row * 7 + c) % 40), 1,
                                      static_cast<uint8_t>(0x10 + (row + c) % 0x40), 0, 0};
    }
  }
  load(plan);
  const test::WavInfo wav = render();
  load(plan);
  const test::ManualRender ticks = test::renderByTicks(kMaxWavDataBytes);
  ASSERT_FALSE(allZero(ticks.data));
  EXPECT_EQ(ticks.data, wav.data);
}

// A crafted header tempo that would make ticks of 0 frames still renders,
// one frame per tick.
TEST_F(SongRenderTest, CraftedTempoGivesOneFrameTicks) {
  setupReplayer(engine, 8000, 1024, true, true);
  XmModulePlan plan = toneSong(4);
  plan.speed = 1;
  plan.tempo = 65535;
  load(plan);
  EXPECT_EQ(render().dataSize, 4u * 4);
  EXPECT_EQ(player.rampLength, 40);
}

// ---------------------------------------------------------------- the file

TEST_F(SongRenderTest, HeaderAtNinetySixKilohertz) {
  setupReplayer(engine, 96000, 1024, true, true);
  load(toneSong(2));
  const test::WavInfo wav = render();
  EXPECT_EQ(wav.sampleRate, 96000u);
  EXPECT_EQ(wav.byteRate, 384000u);
  EXPECT_EQ(wav.dataSize, ticksOf(2 * 6, 1920));
}

TEST_F(SongRenderTest, RendersAreDeterministic) {
  load(toneSong(16, 4));
  const test::WavInfo first = render();
  const test::WavInfo second = render();
  EXPECT_EQ(first.data, second.data);
}

TEST_F(SongRenderTest, MasterVolumeDoesNotReachTheFile) {
  load(toneSong(8));
  const test::WavInfo full = render();
  setMasterVolume(engine, 64);
  const test::WavInfo quiet = render();
  EXPECT_EQ(full.data, quiet.data);
  EXPECT_EQ(getMasterVolume(engine), 64);
}

TEST_F(SongRenderTest, AmpReachesTheFile) {
  load(toneSong(8));
  setAmp(engine, 4);
  const test::WavInfo soft = render();
  setAmp(engine, 16);
  const test::WavInfo loud = render();
  ASSERT_EQ(soft.data.size(), loud.data.size());
  EXPECT_NE(soft.data, loud.data);
  auto peak = [](const std::vector<uint8_t>& d) {
    int peak = 0;
    for (size_t i = 0; i + 1 < d.size(); i += 2) peak = std::max(peak, std::abs(int16_t(d[i] | d[i + 1] << 8)));
    return peak;
  };
  EXPECT_GT(peak(loud.data), 3 * peak(soft.data));
  EXPECT_EQ(player.ampFactor, 16 * 8);  // the amp in force stays
}

TEST_F(SongRenderTest, PlayerIsRestoredAfterTheRender) {
  setupReplayer(engine, 48000, 2048, true, true);
  const int32_t amiga = player.amigaStepFactor;
  const int32_t linear = player.linearStepFactor;
  load(toneSong(4));
  setAmp(engine, 10);
  render();
  EXPECT_EQ(player.mixingFrequency, 48000);
  EXPECT_EQ(player.amigaStepFactor, amiga);
  EXPECT_EQ(player.linearStepFactor, linear);
  EXPECT_EQ(player.ampFactor, 80);
  EXPECT_EQ(player.mixBuffer, nullptr);
  EXPECT_EQ(song.paused, 0);
}

// ---------------------------------------------------------------- live output

// Live output set up as for playback, without a device: render state gives
// the same start (voices, channels, position, tick lengths).
void startWithoutDevice(int32_t mixBufferFrames) {
  stopPlayback(engine);
  prepareRender(engine, player.mixingFrequency, player.amp, 0);
  ASSERT_TRUE(allocateMixBuffer(engine, mixBufferFrames));
}

void stopWithoutDevice() {
  freeMixBuffer(engine);
  finishRender(engine);
}

TEST_F(SongRenderTest, TickBoundariesFallAtTheirExactFrames) {
  XmModulePlan plan = toneSong(4);
  plan.speed = 31;  // the tick counter then counts the ticks: 32 - ticks run
  load(plan);
  startWithoutDevice(1024);
  std::vector<int16_t> out(2 * 1024);
  fillOutputBuffer(engine, out.data(), 1024);  // tick, 882 frames, tick, 142 frames
  EXPECT_EQ(song.tickCounter, 30);
  EXPECT_EQ(player.samplesLeftInTick, 740);
  fillOutputBuffer(engine, out.data(), 100);  // within the tick: no tick runs
  EXPECT_EQ(song.tickCounter, 30);
  EXPECT_EQ(player.samplesLeftInTick, 640);
  fillOutputBuffer(engine, out.data(), 1024);  // 640 frames, tick, 384 frames
  EXPECT_EQ(song.tickCounter, 29);
  EXPECT_EQ(player.samplesLeftInTick, 498);
  pausePlayback(engine);
  fillOutputBuffer(engine, out.data(), 1024);
  EXPECT_EQ(song.tickCounter, 29);
  EXPECT_EQ(player.samplesLeftInTick, 498);
  resumePlayback(engine);
  fillOutputBuffer(engine, out.data(), 498);  // ends exactly at the boundary
  EXPECT_EQ(song.tickCounter, 29);
  EXPECT_EQ(player.samplesLeftInTick, 0);
  stopWithoutDevice();
}

// Live buffers of any size, also longer than the MixBuffer, carry exactly
// the rendered ticks (without interpolation, whose accumulator bits depend on
// where a mixing call starts).
TEST_F(SongRenderTest, LiveBuffersOfAnySizeMatchTheRender) {
  resetPlayer(44100, false, true);
  XmModulePlan plan = toneSong(16, 4);
  plan.cell(0, 4, 1) = NoteCell{61, 1, 0x30, 0, 0};
  plan.cell(0, 6, 2) = NoteCell{37, 1, 0, 0x0A, 0x0F};  // volume slide: ramps every tick
  plan.cell(0, 9, 0) = NoteCell{97, 0, 0, 0, 0};
  plan.cell(0, 10, 3) = NoteCell{0, 0, 0, kEffectSpeedTempo, 150};
  load(plan);
  setAmp(engine, 10);
  const test::ManualRender rendered = test::renderByTicks(kMaxWavDataBytes);
  ASSERT_FALSE(allZero(rendered.data));

  load(plan);
  startWithoutDevice(300);
  const size_t frames = rendered.data.size() / 4;
  std::vector<int16_t> live(frames * 2 + 2 * 8192);
  const int32_t sizes[] = {1, 1024, 3000, 882, 7, 300, 301, 5000, 256, 8192};
  size_t made = 0;
  for (size_t i = 0; made < frames; ++i) {
    const int32_t n = sizes[i % std::size(sizes)];
    fillOutputBuffer(engine, live.data() + 2 * made, n);
    made += static_cast<size_t>(n);
  }
  stopWithoutDevice();
  live.resize(frames * 2);
  std::vector<int16_t> expected(frames * 2);
  std::memcpy(expected.data(), rendered.data.data(), rendered.data.size());
  EXPECT_EQ(live, expected);
}

TEST_F(SongRenderTest, ChannelUpdatesReachTheActiveVoices) {
  load(toneSong(4));
  startWithoutDevice(1024);
  channels[0].status = Channel::volumeChanged | Channel::quickRamp;
  channels[0].finalVolume = 256;
  channels[1].status = Channel::periodChanged | Channel::panningChanged | Channel::noteTriggered;
  channels[1].finalPeriod = 4000;
  channels[1].finalPanning = 0;
  channels[1].finalVolume = 256;  // not marked: not sent
  Voice& first = voices[voiceOfChannel[0]];
  Voice& second = voices[voiceOfChannel[1]];
  second.volume = 0;
  sendChannelUpdates(engine);
  EXPECT_EQ(channels[0].status, 0);
  EXPECT_EQ(channels[1].status, 0);
  EXPECT_EQ(first.volume, 255);
  EXPECT_EQ(first.rampSamplesLeft, player.rampLength);  // the short ramp
  EXPECT_EQ(second.step, periodToStep(engine, 4000));
  EXPECT_EQ(second.panning, 0);
  EXPECT_EQ(second.volume, 0);
  EXPECT_EQ(second.rampSamplesLeft, song.samplesPerTick);  // panning ramps over the tick
  stopWithoutDevice();
}

// Live play through a device, when the machine offers SDL's silent driver.
TEST_F(SongRenderTest, LivePlayThroughTheDummyDevice) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  load(toneSong(64));
  if (!startPlayback(engine)) {
    stopPlayback(engine);
    GTEST_SKIP() << "no audio device";
  }
  {
    AudioLockHold hold(engine.audioLock);  // the callback runs already
    EXPECT_EQ(player.mixBufferFrames, 1024);
    EXPECT_EQ(song.samplesPerTick, 882);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  setMasterVolume(engine, 100);  // marks under the lock while the callback runs
  togglePause(engine);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  togglePause(engine);
  restartPlayback(engine);
  {
    AudioLockHold hold(engine.audioLock);
    EXPECT_EQ(song.songPosition, 0);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  stopPlayback(engine);
  EXPECT_EQ(player.mixBuffer, nullptr);
  EXPECT_EQ(song.paused, 0);
  unsetenv("SDL_AUDIODRIVER");
}

}  // namespace
}  // namespace zv
